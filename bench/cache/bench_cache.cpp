// The cache over a source-like tree of 200,000 files in 20,000 directories: the build, timed in a
// process of its own (for its peak RSS) against `find ROOT -printf "%s\n"` on the same warm tree,
// then findDirectory on the deepest path, on the most repeated name ("src", 10,000 namesakes),
// and on tables shaped to the extremes (20,000 namesakes under 20,000 parents, 20,000 children of
// one parent), beside the bottom-up candidate walk for comparison.
//
//   bench_cache [--tree=DIR] [benchmark flags]
// --tree keeps the generated tree in DIR and reuses it on later runs (generation takes a while);
// without it the tree is made in the temporary directory and removed at exit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cache/fscache.h"
#include "criteriaevaluator.h"
#include "sourcetree.h"
#include "system/sysinfo.h"
#include "text/utf8.h"

namespace fs = std::filesystem;

namespace {

constexpr int kNamesakes = 20000;

using sourcetree::Clock;
using sourcetree::generate;
using sourcetree::kContainers;
using sourcetree::kFilesPerDirectory;
using sourcetree::msSince;
using sourcetree::runTimed;
using sourcetree::Tree;

// The child: builds a cache of root in cacheDir and prints "ms directories files".
int buildChild(const char* root, const char* cacheDir) {
    CacheSettings settings;
    settings.collectFlags = 31;
    FS_Cache cache(L"bench_dirs", L"bench_files", utf8::toWide(cacheDir).c_str(), true, false,
                   false, &settings);
    if (cache.create(3600000, FS_CACHE_CREATE) != SUCCESS)
        return 1;
    const auto start = Clock::now();
    const int result = cache.build(MonitoredPath(utf8::toWide(root), 1));
    const double ms = msSince(start);
    cache.writeDirectoriesIndex();
    cache.closeCache();
    std::printf("%.1f %llu %llu %d\n", ms,
                static_cast<unsigned long long>(cache.lastScanCounts().directories),
                static_cast<unsigned long long>(cache.lastScanCounts().files), result);
    return result == SCAN_OK ? 0 : 1;
}

struct Setup {
    Tree tree;
    fs::path scratch;
    bool removeTree = false;
    std::unique_ptr<FS_Cache> built;     // the cache of the tree
    std::unique_ptr<FS_Cache> extremes;  // namesakes and a wide parent, from records
    ~Setup() {
        built.reset();
        extremes.reset();
        std::error_code ec;
        fs::remove_all(scratch, ec);
        if (removeTree)
            fs::remove_all(tree.root, ec);
    }
};

Setup* setup = nullptr;

uint32_t addDirectory(FS_Cache& cache, uint32_t parent, const std::wstring& name) {
    RecordSet& records = cache.directoriesRecords();
    const uint32_t id = ++cache.directoriesCounter();
    records.setUInt32(L"ID", id);
    records.setString(L"PATHNAME", name.c_str());
    records.setString(L"SHORTPATHNAME", L"");
    records.setUInt32(L"PARENTID", parent);
    records.setUInt32(L"CREATIONTIME", 0);
    records.addRecord();
    return id;
}

void makeExtremes(FS_Cache& cache) {
    const uint32_t root = addDirectory(cache, 0, L"/");
    const uint32_t bench = addDirectory(cache, root, L"bench");
    const uint32_t wide = addDirectory(cache, bench, L"wide");
    for (int i = 0; i < kNamesakes; ++i) {
        const uint32_t parent = addDirectory(cache, bench, L"p" + std::to_wstring(i));
        addDirectory(cache, parent, L"src");
        addDirectory(cache, wide, L"c" + std::to_wstring(i));
    }
}

void findEach(benchmark::State& state, FS_Cache& cache, const std::vector<std::wstring>& paths) {
    size_t next = 0;
    int64_t found = 0;
    for (auto _ : state) {
        found += cache.findDirectory(cache.directoriesRecords(), cache.parentRecords(),
                                     paths[next].c_str(), false);
        next = (next + 1) % paths.size();
    }
    if (found != state.iterations())
        state.SkipWithError("a path was not found");
}

// Paths into the extreme tables: /bench/p<i>/src, or /bench/wide/c<i>.
std::vector<std::wstring> extremePaths(bool namesakes) {
    std::vector<std::wstring> paths;
    for (int i = 0; i < kNamesakes; i += 997) {
        const std::wstring n = std::to_wstring(i);
        paths.push_back(namesakes ? L"/bench/p" + n + L"/src" : L"/bench/wide/c" + n);
    }
    return paths;
}

void BM_FindDeepest(benchmark::State& state) {
    findEach(state, *setup->built, {setup->tree.deepest});
    state.SetLabel(std::to_string(setup->tree.deepestLevels) + " levels");
}

void BM_FindSrcOf10000(benchmark::State& state) {
    findEach(state, *setup->built, setup->tree.srcs);
}

void BM_FindSrcOf20000Namesakes(benchmark::State& state) {
    findEach(state, *setup->extremes, extremePaths(true));
}

void BM_FindChildOfParentWith20000(benchmark::State& state) {
    findEach(state, *setup->extremes, extremePaths(false));
}

void BM_FindMissingFileBelowSrc(benchmark::State& state) {
    // What a removed file's event asks first: is the path a directory?
    std::vector<std::wstring> paths;
    for (const std::wstring& src : setup->tree.srcs)
        paths.push_back(src + L"/main_0.c");
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup->built->findDirectory(setup->built->directoriesRecords(),
                                                             setup->built->parentRecords(),
                                                             paths[next].c_str(), false));
        next = (next + 1) % paths.size();
    }
}

// The bottom-up walk: every record called like the last component, each followed up its parents.
bool candidateWalk(FS_Cache& cache, const std::vector<std::wstring>& components) {
    static CriteriaEvaluator byName(L"[PATHNAME]==pathname");
    static CriteriaEvaluator byId(L"[ID]==id");
    static FieldList variables;
    if (variables.fieldCount() == 0) {
        variables.addField(L"pathname", FT_STRING);
        variables.addField(L"id", FT_UINT32);
        byName.setVariables(&variables);
        byId.setVariables(&variables);
    }
    auto* pathname = static_cast<StringField*>(variables.findField(L"pathname"));
    auto* id = static_cast<UInt32Field*>(variables.findField(L"id"));
    SyntaxValue hint;
    hint.setName(L"PATHNAME");
    hint.type = SyntaxValue::STRING;
    hint.setText(components.back().c_str());
    byName.setKeyHint(hint);
    pathname->setValue(components.back().c_str());
    RecordSet& candidates = cache.directoriesRecords();
    RecordSet& parents = cache.parentRecords();
    candidates.select(&byName, true);
    for (bool more = candidates.moveFirst(); more; more = candidates.moveNext()) {
        uint32_t parent = candidates.getUInt32(L"PARENTID");
        size_t k = components.size() - 1;
        bool match = true;
        while (match && k-- > 0) {
            SyntaxValue idHint;
            idHint.setName(L"ID");
            idHint.number = parent;
            byId.setKeyHint(idHint);
            id->setValue(parent);
            parents.select(&byId, true);
            match = parents.moveFirst() &&
                    std::wcscmp(parents.getString(L"PATHNAME"), components[k].c_str()) == 0;
            parent = parents.getUInt32(L"PARENTID");
        }
        if (match && parent == 0)
            return true;
    }
    return false;
}

void BM_CandidateWalkSrcOf20000Namesakes(benchmark::State& state) {
    std::vector<std::vector<std::wstring>> paths;
    for (int i = 0; i < kNamesakes; i += 997)
        paths.push_back({L"/", L"bench", L"p" + std::to_wstring(i), L"src"});
    size_t next = 0;
    int64_t found = 0;
    for (auto _ : state) {
        found += candidateWalk(*setup->extremes, paths[next]);
        next = (next + 1) % paths.size();
    }
    if (found != state.iterations())
        state.SkipWithError("a path was not found");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--build-child") == 0)
        return buildChild(argv[2], argv[3]);

    Setup state;
    setup = &state;
    std::vector<char*> rest;
    const std::string treeArg = sourcetree::takeTreeArgument(argc, argv, rest);
    const std::string pid = std::to_string(sysinfo::currentProcessId());
    state.scratch = fs::temp_directory_path() / ("vigil-bench-cache-" + pid);
    fs::create_directories(state.scratch);
    fs::path root = treeArg.empty() ? state.scratch / "tree" : fs::path(treeArg);
    state.removeTree = treeArg.empty();

    auto start = Clock::now();
    state.tree = generate(root);
    std::printf("tree: %s, %d directories, %d files, deepest %zu levels (ready in %.0f ms)\n",
                root.c_str(), 2 * kContainers, 2 * kContainers * kFilesPerDirectory,
                state.tree.deepestLevels, msSince(start));

    // find warms the caches once, then the best of three runs of each.
    const std::vector<std::string> find = {"/usr/bin/find", root.string(), "-printf", "%s\n"};
    runTimed(find, nullptr, nullptr);
    double findMs = 1e18, buildMs = 1e18;
    long peakKiB = 0;
    std::string counts;
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    for (int run = 0; run < 3; ++run) {
        findMs = std::min(findMs, runTimed(find, nullptr, nullptr));
        const fs::path cacheDir = state.scratch / ("cache" + std::to_string(run));
        fs::remove_all(cacheDir);
        fs::create_directories(cacheDir);
        std::string output;
        long peak = 0;
        if (runTimed({self, "--build-child", root.string(), cacheDir.string()}, &output, &peak) <
            0) {
            std::fprintf(stderr, "the build failed: %s\n", output.c_str());
            return 1;
        }
        double ms = 0;
        unsigned long long directories = 0, files = 0;
        std::sscanf(output.c_str(), "%lf %llu %llu", &ms, &directories, &files);
        buildMs = std::min(buildMs, ms);
        peakKiB = std::max(peakKiB, peak);
        counts = std::to_string(directories) + " directories, " + std::to_string(files) + " files";
    }
    std::printf("find -printf %%s:  %.0f ms (best of 3, warm)\n", findMs);
    std::printf("cache build:      %.0f ms (best of 3; %s), %.2fx find (goal <= 1.2x)\n", buildMs,
                counts.c_str(), buildMs / findMs);
    std::printf("build peak RSS:   %.1f MB (goal <= 32 MB)\n", peakKiB / 1024.0);
    std::fflush(stdout);

    CacheSettings settings;
    state.built = std::make_unique<FS_Cache>(L"bench_dirs", L"bench_files",
                                             (state.scratch / "cache2").wstring().c_str(), true,
                                             false, false, &settings);
    if (state.built->create(0, FS_CACHE_OPEN) != SUCCESS)
        return 1;
    state.extremes = std::make_unique<FS_Cache>(
        L"x_dirs", L"x_files", state.scratch.wstring().c_str(), true, false, false, &settings);
    if (state.extremes->create(0, FS_CACHE_CREATE) != SUCCESS)
        return 1;
    makeExtremes(*state.extremes);

    benchmark::RegisterBenchmark("findDirectory/deepest", BM_FindDeepest);
    benchmark::RegisterBenchmark("findDirectory/src_of_10000", BM_FindSrcOf10000);
    benchmark::RegisterBenchmark("findDirectory/src_of_20000_namesakes",
                                 BM_FindSrcOf20000Namesakes);
    benchmark::RegisterBenchmark("findDirectory/child_of_parent_with_20000",
                                 BM_FindChildOfParentWith20000);
    benchmark::RegisterBenchmark("findDirectory/missing_file_below_src",
                                 BM_FindMissingFileBelowSrc);
    benchmark::RegisterBenchmark("candidateWalk/src_of_20000_namesakes",
                                 BM_CandidateWalkSrcOf20000Namesakes);
    int benchArgc = static_cast<int>(rest.size());
    benchmark::Initialize(&benchArgc, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
