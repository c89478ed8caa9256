// vigil-query over the cache of bench/cache's source-like tree (200,000 files in 20,000
// directories): `vigil-query ... find '*.cpp'` in a process of its own against
// `find ROOT -name '*.cpp'` on the same warm tree (goal: the query takes at most 0.2x the disk
// walk), both printing every path; then, in this process, a full walk of the files table that
// reads every record, and the query's own run.
//
//   bench_query [--tree=DIR] [benchmark flags]
// --tree keeps the generated tree in DIR and reuses it on later runs; without it the tree is made
// in the temporary directory and removed at exit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cache/fscache.h"
#include "cachereader.h"
#include "log/rklog.h"
#include "querycommands.h"
#include "sourcetree.h"
#include "system/sysinfo.h"
#include "text/utf8.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kDirectoriesTable[] = L"bench_dirs";
constexpr wchar_t kFilesTable[] = L"bench_files";

fs::path g_cache;

std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', from)) {
        lines.push_back(text.substr(from, at - from));
        from = at + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

void BM_FilesTableFullWalk(benchmark::State& state) {
    CacheReader reader(g_cache.wstring(), kDirectoriesTable, kFilesTable);
    std::string reason;
    if (reader.open(5000, reason) != CacheReader::Opened::Ready) {
        state.SkipWithError(reason.c_str());
        return;
    }
    uint64_t records = 0;
    for (auto _ : state)
        reader.forEach(reader.files(), nullptr, true, [&](RecordSet&) { ++records; });
    state.SetItemsProcessed(static_cast<int64_t>(records));
}

void BM_QueryFindInProcess(benchmark::State& state, bool count) {
    QueryOptions options;
    options.workingDirectory = g_cache.wstring();
    options.directoriesTable = kDirectoriesTable;
    options.filesTable = kFilesTable;
    options.command = QueryCommand::Find;
    options.patterns = {L"*.cpp"};
    options.output = count ? QueryOutput::Count : QueryOutput::Lines;
    FILE* sink = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        if (runQuery(options, sink, sink) != 0)
            state.SkipWithError("the query found nothing");
    }
    std::fclose(sink);
}

}  // namespace

int main(int argc, char** argv) {
    getRkLogFs()->setDefaultFile(L"off");
    std::vector<char*> rest;
    const std::string treeArg = sourcetree::takeTreeArgument(argc, argv, rest);
    const fs::path scratch = fs::temp_directory_path() /
                             ("vigil-bench-query-" + std::to_string(sysinfo::currentProcessId()));
    fs::create_directories(scratch);
    const fs::path root = treeArg.empty() ? scratch / "tree" : fs::path(treeArg);
    struct Cleanup {
        fs::path scratch;
        bool removeTree;
        fs::path root;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(scratch, ec);
            if (removeTree)
                fs::remove_all(root, ec);
        }
    } cleanup{scratch, treeArg.empty(), root};

    auto start = sourcetree::Clock::now();
    sourcetree::generate(root);
    std::printf("tree: %s, %d directories, %d files (ready in %.0f ms)\n", root.c_str(),
                2 * sourcetree::kContainers,
                2 * sourcetree::kContainers * sourcetree::kFilesPerDirectory,
                sourcetree::msSince(start));

    g_cache = scratch / "cache";
    fs::create_directories(g_cache);
    {
        start = sourcetree::Clock::now();
        FS_Cache cache(kDirectoriesTable, kFilesTable, g_cache.wstring().c_str(), true, false,
                       false, nullptr);
        if (cache.create(3600000, FS_CACHE_CREATE) != SUCCESS ||
            cache.build(MonitoredPath(utf8::toWide(root.string()), 1)) != SCAN_OK) {
            std::fprintf(stderr, "the cache could not be built\n");
            return 1;
        }
        cache.writeDirectoriesIndex();
        cache.closeCache();
        std::printf("cache built in %.0f ms\n", sourcetree::msSince(start));
    }

    const std::string query =
        (fs::read_symlink("/proc/self/exe").parent_path() / "vigil-query").string();
    const std::vector<std::string> find = {"/usr/bin/find", root.string(), "-name", "*.cpp"};
    const std::vector<std::string> byQuery = {query,         g_cache.string(), "bench_dirs",
                                              "bench_files", "find",           "*.cpp"};
    std::vector<std::string> byQueryCount = byQuery;
    byQueryCount.push_back("--count");

    // Both give the same paths; these runs also warm the caches.
    std::string fromDisk, fromCache;
    if (sourcetree::runTimed(find, &fromDisk, nullptr) < 0 ||
        sourcetree::runTimed(byQuery, &fromCache, nullptr) < 0) {
        std::fprintf(stderr, "find or vigil-query failed\n");
        return 1;
    }
    const std::vector<std::string> disk = sortedLines(fromDisk);
    if (disk != sortedLines(fromCache)) {
        std::fprintf(stderr, "vigil-query and find disagree\n");
        return 1;
    }
    double findMs = 1e18, queryMs = 1e18, countMs = 1e18;
    for (int run = 0; run < 5; ++run) {
        findMs = std::min(findMs, sourcetree::runTimed(find, nullptr, nullptr));
        queryMs = std::min(queryMs, sourcetree::runTimed(byQuery, nullptr, nullptr));
        countMs = std::min(countMs, sourcetree::runTimed(byQueryCount, nullptr, nullptr));
    }
    std::printf("find -name '*.cpp':            %6.1f ms (best of 5, warm; %zu paths)\n", findMs,
                disk.size());
    std::printf("vigil-query find '*.cpp':      %6.1f ms, %.2fx find (goal <= 0.2x)\n", queryMs,
                queryMs / findMs);
    std::printf("vigil-query --count find:      %6.1f ms, %.2fx find\n", countMs, countMs / findMs);
    std::fflush(stdout);

    benchmark::RegisterBenchmark("filesTable/full_walk", BM_FilesTableFullWalk)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("query/find_cpp_in_process", BM_QueryFindInProcess, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("query/find_cpp_count_in_process", BM_QueryFindInProcess, true)
        ->Unit(benchmark::kMillisecond);
    int benchArgc = static_cast<int>(rest.size());
    benchmark::Initialize(&benchArgc, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
