// Criteria language benchmarks: the cache's seven criteria evaluated against a record (parsed
// once, as the record sets use them), and a 100-pattern set matched against a million names.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "cache/cacheschema.h"
#include "field.h"
#include "patternset.h"
#include "syntaxanalyzer.h"
#include "text/strutil.h"

namespace {

struct Criteria {
    const wchar_t* name;
    const wchar_t* text;
    bool filesTable;
};

// The cache's criteria, in the order the cache creates them.
const Criteria kCacheCriteria[] = {
    {L"critPathId", cacheschema::kCritPathId, true},
    {L"critParentId", cacheschema::kCritParentId, false},
    {L"critId", cacheschema::kCritId, false},
    {L"critAnyPathName", cacheschema::kCritAnyPathName, false},
    {L"critPathName", cacheschema::kCritPathName, false},
    {L"critAnyFileName", cacheschema::kCritAnyFileName, true},
    {L"critFileName", cacheschema::kCritFileName, true},
};

void setString(FieldList& list, const wchar_t* name, const wchar_t* value) {
    static_cast<StringField*>(list.findField(name))->setValue(value);
}

void setUInt32(FieldList& list, const wchar_t* name, uint32_t value) {
    static_cast<UInt32Field*>(list.findField(name))->setValue(value);
}

template <size_t N>
FieldList fieldsOf(const cacheschema::FieldDef (&fields)[N]) {
    FieldList list;
    for (const cacheschema::FieldDef& field : fields)
        list.addField(field.name, field.type);
    return list;
}

// A directory record and a file record as the cache stores them, and its bound variables, set
// up so that every criteria matches after comparing whole names.
struct CacheRecords {
    CacheRecords()
        : directory(fieldsOf(cacheschema::kDirectoryFields)),
          file(fieldsOf(cacheschema::kFileFields)),
          variables(fieldsOf(cacheschema::kVariables)) {
        setUInt32(directory, L"ID", 4711);
        setString(directory, L"PATHNAME", L"Program Files");
        setString(directory, L"SHORTPATHNAME", L"PROGRA~1");
        setUInt32(directory, L"PARENTID", 12);
        setString(file, L"FILENAME", L"Quarterly Report 2024.xlsx");
        setString(file, L"SHORTFILENAME", L"QUARTE~1.XLS");
        setUInt32(file, L"PATHID", 4711);
        setString(file, L"MD5", L"0");

        setUInt32(variables, L"id", 4711);
        setUInt32(variables, L"pathid", 4711);
        setUInt32(variables, L"parentid", 12);
        setString(variables, L"pathname", L"program files");
        setString(variables, L"shortpathname", L"PROGRA~2");
        setString(variables, L"filename", L"quarterly report 2024.XLSX");
        setString(variables, L"shortfilename", L"QUARTE~2.XLS");
    }

    FieldList directory;
    FieldList file;
    FieldList variables;
};

void BM_CacheCriteriaEvaluate(benchmark::State& state) {
    const Criteria& criteria = kCacheCriteria[state.range(0)];
    CacheRecords records;
    const FieldList& record = criteria.filesTable ? records.file : records.directory;
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    if (analyzer.parse(criteria.text, &record, &records.variables, result, false) ||
        result.number != 1) {
        state.SkipWithError("criteria did not parse to a match");
        return;
    }
    for (auto _ : state) {
        analyzer.evaluate(&record, &records.variables, result, false);
        benchmark::DoNotOptimize(result.number);
    }
    state.SetLabel(std::string(criteria.name, criteria.name + std::wcslen(criteria.name)));
}
BENCHMARK(BM_CacheCriteriaEvaluate)->DenseRange(0, 6);

void BM_CacheCriteriaParse(benchmark::State& state) {
    CacheRecords records;
    const Criteria& criteria = kCacheCriteria[5];
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    for (auto _ : state) {
        analyzer.parse(criteria.text, &records.file, &records.variables, result, false);
        benchmark::DoNotOptimize(result.number);
    }
    state.SetLabel("critAnyFileName");
}
BENCHMARK(BM_CacheCriteriaParse);

// --- pattern sets ----------------------------------------------------------------------------

const wchar_t* const kExtensions[] = {
    L"txt", L"doc", L"docx", L"xls", L"xlsx", L"pdf", L"jpg", L"png",  L"gif", L"bmp",
    L"exe", L"dll", L"sys",  L"ini", L"log",  L"tmp", L"bak", L"zip",  L"7z",  L"rar",
    L"c",   L"h",   L"cpp",  L"hpp", L"py",   L"js",  L"ts",  L"html", L"css", L"json",
    L"xml", L"yml", L"md",   L"csv", L"mp3",  L"mp4", L"avi", L"mkv",  L"iso", L"msi"};

// 100 items: 60 suffixes, 20 prefixes, 15 exact names and 5 general patterns.
std::wstring hundredPatterns() {
    std::wstring content;
    auto item = [&content](const std::wstring& s) { content += L"\"" + s + L"\" "; };
    for (int i = 0; i < 60; ++i)
        item(L"*." + std::wstring(kExtensions[i % 40]) + (i < 40 ? L"" : L"~"));
    for (int i = 0; i < 20; ++i)
        item(L"backup" + std::to_wstring(i) + L"*");
    for (int i = 0; i < 15; ++i)
        item(L"makefile" + std::to_wstring(i));
    for (const wchar_t* general : {L"*cache*.db", L"~$*.doc?", L"thumbs?.db", L"*.tmp.*", L"a?c"})
        item(general);
    return content;
}

// A million lower-case file names: random stems of 3 to 16 letters, random extensions (two
// thirds of them in the set), some with the set's prefixes.
const std::vector<std::wstring>& millionNames() {
    static const std::vector<std::wstring> names = [] {
        std::mt19937 rng(42);
        std::uniform_int_distribution<int> letter(0, 25), length(3, 16), ext(0, 59), kind(0, 19);
        std::vector<std::wstring> out;
        out.reserve(1000000);
        for (int i = 0; i < 1000000; ++i) {
            std::wstring name;
            if (kind(rng) == 0)
                name = L"backup" + std::to_wstring(letter(rng));
            for (int n = length(rng); n > 0; --n)
                name += static_cast<wchar_t>(L'a' + letter(rng));
            const int e = ext(rng);
            name += L".";
            name += e < 40 ? kExtensions[e] : L"unlisted";
            out.push_back(std::move(name));
        }
        return out;
    }();
    return names;
}

void BM_PatternSet100Over1MNames(benchmark::State& state) {
    PatternSet set;
    set.fill(hundredPatterns());
    set.build(false);
    const auto& names = millionNames();
    size_t matched = 0;
    for (auto _ : state) {
        matched = 0;
        for (const std::wstring& name : names)
            matched += set.matches(name) ? 1 : 0;
        benchmark::DoNotOptimize(matched);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * names.size()));
    state.counters["matched"] = static_cast<double>(matched);
}
BENCHMARK(BM_PatternSet100Over1MNames)->Unit(benchmark::kMillisecond);

// The same set as a brace literal in a criteria, evaluated per record (lower-casing included).
void BM_BraceCriteriaOver1MNames(benchmark::State& state) {
    FieldList record;
    record.addField(L"FILENAME", FT_STRING);
    const std::wstring text = L"[FILENAME] == {" + hundredPatterns() + L"}";
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    setString(record, L"FILENAME", L"x");
    if (analyzer.parse(text.c_str(), &record, nullptr, result, false)) {
        state.SkipWithError("criteria did not parse");
        return;
    }
    const auto& names = millionNames();
    size_t matched = 0;
    auto* field = static_cast<StringField*>(record.findField(L"FILENAME"));
    for (auto _ : state) {
        matched = 0;
        for (const std::wstring& name : names) {
            field->setValue(name.c_str());
            analyzer.evaluate(&record, nullptr, result, false);
            matched += static_cast<size_t>(result.number);
        }
        benchmark::DoNotOptimize(matched);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * names.size()));
    state.counters["matched"] = static_cast<double>(matched);
}
BENCHMARK(BM_BraceCriteriaOver1MNames)->Unit(benchmark::kMillisecond);

// Reference: the same 100 items matched one by one with matchWildcard.
void BM_WildcardLoop100Over1MNames(benchmark::State& state) {
    std::vector<std::wstring> items;
    {
        const std::wstring content = hundredPatterns();
        for (size_t at = content.find(L'"'); at != std::wstring::npos;) {
            const size_t end = content.find(L'"', at + 1);
            items.push_back(content.substr(at + 1, end - at - 1));
            at = content.find(L'"', end + 1);
        }
    }
    const auto& names = millionNames();
    size_t matched = 0;
    for (auto _ : state) {
        matched = 0;
        for (const std::wstring& name : names) {
            for (const std::wstring& item : items) {
                if (matchWildcard(item.c_str(), name.c_str(), false)) {
                    ++matched;
                    break;
                }
            }
        }
        benchmark::DoNotOptimize(matched);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * names.size()));
    state.counters["matched"] = static_cast<double>(matched);
}
BENCHMARK(BM_WildcardLoop100Over1MNames)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
