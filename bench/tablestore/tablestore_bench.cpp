// The table engine on one million records shaped like the cache's file records: appending with
// three indexes, index lookups, a full walk that reads every record, and record sets that select
// by criteria through an index or over the whole table and remove records as they walk.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>

#include "alloccount.h"
#include "criteriaevaluator.h"
#include "system/sysinfo.h"
#include "table.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRecords = 1000000;

// A scratch directory removed at exit.
class BenchDir {
  public:
    BenchDir() {
        path_ = fs::temp_directory_path() /
                ("vigil-bench-" + std::to_string(sysinfo::currentProcessId()));
        fs::create_directories(path_);
    }
    ~BenchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::wstring wide() const { return path_.wstring(); }

  private:
    fs::path path_;
};

BenchDir& benchDir() {
    static BenchDir dir;
    return dir;
}

std::wstring fileName(uint32_t i) {
    wchar_t name[32];
    std::swprintf(name, 32, L"document-%07u.txt", i);
    return name;
}

std::unique_ptr<Table> createFilesTable(const wchar_t* name) {
    auto table = std::make_unique<Table>(name, benchDir().wide().c_str(), false);
    table->addField(L"ID", FT_UINT32);
    table->addField(L"PATHID", FT_UINT32);
    table->addField(L"FILENAME", FT_STRING);
    table->addField(L"SIZE", FT_UINT64);
    if (!table->create())
        return nullptr;
    const std::wstring prefix(name);
    table->createIndex((prefix + L"_ID").c_str(), L"ID");
    table->createIndex((prefix + L"_PATHID").c_str(), L"PATHID");
    table->createIndex((prefix + L"_FILENAME").c_str(), L"FILENAME");
    return table;
}

bool appendAll(Table& table) {
    FieldList record;
    record.resetFrom(table.schema());
    auto* id = static_cast<UInt32Field*>(record.findField(L"ID"));
    auto* pathid = static_cast<UInt32Field*>(record.findField(L"PATHID"));
    auto* name = static_cast<StringField*>(record.findField(L"FILENAME"));
    auto* size = static_cast<UInt64Field*>(record.findField(L"SIZE"));
    for (uint32_t i = 0; i < kRecords; ++i) {
        id->setValue(i + 1);
        pathid->setValue(i / 50);  // fifty files per directory
        name->setValue(fileName(i).c_str());
        size->setValue(1000ull * i);
        if (!table.appendRecord(record))
            return false;
    }
    return true;
}

// The filled table shared by the lookup and walk benchmarks.
Table& filledTable() {
    static std::unique_ptr<Table> table = [] {
        auto t = createFilesTable(L"filled");
        if (!t || !appendAll(*t))
            std::abort();
        return t;
    }();
    return *table;
}

void BM_AppendWithThreeIndexes(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto table = createFilesTable(L"append");
        state.ResumeTiming();
        if (!table || !appendAll(*table))
            state.SkipWithError("append failed");
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_AppendWithThreeIndexes)->Unit(benchmark::kMillisecond)->Iterations(3);

// One lookup: find the first record in use under the key, read it and check it.
template <bool ByName>
void BM_IndexLookup(benchmark::State& state) {
    Table& table = filledTable();
    TableIndex* index = table.findIndex(ByName ? L"FILENAME" : L"ID");
    FieldList record;
    record.resetFrom(table.schema());
    IndexKey key;
    std::mt19937 random(42);
    std::uniform_int_distribution<uint32_t> pick(0, kRecords - 1);
    uint64_t visited = 0;
    for (auto _ : state) {
        const uint32_t i = pick(random);
        if (ByName)
            key.assignText(fileName(i).c_str());
        else
            key.assignNumber(i + 1);
        uint32_t number = 0;
        uint32_t next = 0;
        bool found = false;
        for (bool more = table.firstCandidate(*index, key.text(), number, next); more && !found;
             more = table.nextCandidate(*index, number, next)) {
            ++visited;
            found = table.readRecord(number, record) &&
                    static_cast<UInt32Field*>(record.fieldAt(0))->getValue() == i + 1;
        }
        if (!found)
            state.SkipWithError("record not found");
    }
    state.counters["candidates/lookup"] =
        benchmark::Counter(static_cast<double>(visited) / static_cast<double>(state.iterations()));
}
BENCHMARK_TEMPLATE(BM_IndexLookup, false)->Name("BM_IndexLookup/ID");
BENCHMARK_TEMPLATE(BM_IndexLookup, true)->Name("BM_IndexLookup/FILENAME");

void BM_FullWalk(benchmark::State& state) {
    Table& table = filledTable();
    FieldList record;
    record.resetFrom(table.schema());
    for (auto _ : state) {
        uint32_t count = 0;
        uint32_t number = 0;
        for (bool more = table.firstRecordId(number); more; more = table.nextRecordId(number)) {
            if (!table.readRecord(number, record))
                state.SkipWithError("read failed");
            ++count;
        }
        if (count != kRecords)
            state.SkipWithError("walk missed records");
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_FullWalk)->Unit(benchmark::kMillisecond);

// Criteria over files bound to the variables pathid and filename, as the cache binds them.
struct FileCriteria {
    explicit FileCriteria(const wchar_t* text) : criteria(text) {
        variables.addField(L"pathid", FT_UINT32);
        variables.addField(L"filename", FT_STRING);
        pathid = static_cast<UInt32Field*>(variables.findField(L"pathid"));
        filename = static_cast<StringField*>(variables.findField(L"filename"));
        criteria.setVariables(&variables);
    }
    // Sets the variables to the directory and name of record i of appendAll.
    void aimAt(uint32_t i) {
        name = fileName(i);
        pathid->setValue(i / 50);
        filename->setValue(name.c_str());
    }

    FieldList variables;
    UInt32Field* pathid;
    StringField* filename;
    std::wstring name;
    CriteriaEvaluator criteria;
};

constexpr wchar_t kFileLookup[] = L"[PATHID]==pathid && [FILENAME]==filename";

// select and moveFirst for one file, its directory and name picked at random, the key hint on
// PATHID (fifty records per key) or on FILENAME (one record per key).
template <bool ByName>
void BM_SelectFile(benchmark::State& state) {
    Table& table = filledTable();
    RecordSet set = table.openRecordSet();
    FileCriteria lookup(kFileLookup);
    SyntaxValue hint;
    hint.setName(ByName ? L"FILENAME" : L"PATHID");
    hint.type = ByName ? SyntaxValue::STRING : SyntaxValue::NUMERIC;
    std::mt19937 random(42);
    std::uniform_int_distribution<uint32_t> pick(0, kRecords - 1);
    for (auto _ : state) {
        const uint32_t i = pick(random);
        lookup.aimAt(i);
        if (ByName)
            hint.setText(lookup.name.c_str());
        else
            hint.number = i / 50;
        lookup.criteria.setKeyHint(hint);
        if (!set.select(&lookup.criteria, false) || !set.moveFirst() ||
            set.getUInt32(L"ID") != i + 1) {
            state.SkipWithError("record not found");
        }
    }
    table.closeRecordSet(set);
}
BENCHMARK_TEMPLATE(BM_SelectFile, false)->Name("BM_SelectFile/hint:PATHID");
BENCHMARK_TEMPLATE(BM_SelectFile, true)->Name("BM_SelectFile/hint:FILENAME");

// Criteria without a hint tested against every record of the table: one match.
void BM_CriteriaFullWalk(benchmark::State& state) {
    Table& table = filledTable();
    RecordSet set = table.openRecordSet();
    FileCriteria lookup(kFileLookup);
    uint64_t allocations = 0;
    for (auto _ : state) {
        lookup.aimAt(12345);
        set.select(&lookup.criteria, false);
        const uint64_t before = allocationCount();
        uint32_t found = 0;
        for (bool more = set.moveFirst(); more; more = set.moveNext())
            ++found;
        allocations += allocationCount() - before;
        if (found != 1)
            state.SkipWithError("walk found the wrong records");
    }
    table.closeRecordSet(set);
    state.SetItemsProcessed(state.iterations() * kRecords);
    state.counters["allocs/record"] = benchmark::Counter(
        static_cast<double>(allocations) / static_cast<double>(state.iterations() * kRecords));
}
BENCHMARK(BM_CriteriaFullWalk)->Unit(benchmark::kMillisecond);

// Removing records as a record set walks: every second record of the table, then the rest, in
// full walks; and directory after directory through the PATHID index, as the cache empties
// removed directories.
template <bool ByIndex>
void BM_RemoveWhileWalking(benchmark::State& state) {
    FileCriteria inDirectory(L"[PATHID]==pathid");
    SyntaxValue hint;
    hint.setName(L"PATHID");
    for (auto _ : state) {
        state.PauseTiming();
        auto table = createFilesTable(L"remove");
        if (!table || !appendAll(*table)) {
            state.SkipWithError("fill failed");
            break;
        }
        RecordSet set = table->openRecordSet();
        state.ResumeTiming();
        uint32_t removed = 0;
        if (ByIndex) {
            for (uint32_t dir = 0; dir < kRecords / 50; ++dir) {
                inDirectory.pathid->setValue(dir);
                hint.number = dir;
                inDirectory.criteria.setKeyHint(hint);
                set.select(&inDirectory.criteria, true);
                for (bool more = set.moveFirst(); more; more = set.moveNext())
                    removed += set.removeRecord() ? 1 : 0;
            }
        } else {
            bool odd = false;
            for (bool more = set.moveFirst(); more; more = set.moveNext()) {
                if ((odd = !odd))
                    removed += set.removeRecord() ? 1 : 0;
            }
            for (bool more = set.moveFirst(); more; more = set.moveNext())
                removed += set.removeRecord() ? 1 : 0;
        }
        if (removed != kRecords)
            state.SkipWithError("records left");
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK_TEMPLATE(BM_RemoveWhileWalking, false)
    ->Name("BM_RemoveWhileWalking/full")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK_TEMPLATE(BM_RemoveWhileWalking, true)
    ->Name("BM_RemoveWhileWalking/byPathIndex")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
