// The table engine on one million records shaped like the cache's file records: appending with
// three indexes, index lookups, and a full walk that reads every record.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>

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
    auto* pathId = static_cast<UInt32Field*>(record.findField(L"PATHID"));
    auto* name = static_cast<StringField*>(record.findField(L"FILENAME"));
    auto* size = static_cast<UInt64Field*>(record.findField(L"SIZE"));
    for (uint32_t i = 0; i < kRecords; ++i) {
        id->setValue(i + 1);
        pathId->setValue(i / 50);  // fifty files per directory
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

}  // namespace

BENCHMARK_MAIN();
