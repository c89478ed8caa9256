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
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "cache/fscache.h"
#include "criteriaevaluator.h"
#include "system/sysinfo.h"
#include "text/utf8.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kContainers = 10000;      // each with a "src" child: 20,000 directories
constexpr int kFilesPerDirectory = 10;  // 200,000 files
constexpr int kNamesakes = 20000;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Tree {
    fs::path root;
    std::wstring deepest;  // the deepest directory
    size_t deepestLevels = 0;
    std::vector<std::wstring> srcs;  // some of the "src" directories
};

// Directories of repeated names ("lib-3", "src") at depths from 1 to about 40; files of assorted
// names with sizes up to 1 MB, made sparse so that the tree costs no disk space.
Tree generate(const fs::path& root) {
    static const char* const kWords[] = {"lib",    "core",   "net",  "util", "app",
                                         "pkg",    "module", "api",  "impl", "tools",
                                         "plugin", "common", "test", "doc",  "server"};
    static const char* const kFiles[] = {"main",     "index",  "util",  "README",
                                         "Makefile", "config", "types", "test",
                                         "handler",  "model",  "view",  "data"};
    static const char* const kExtensions[] = {".c", ".h", ".cpp", ".txt", ".json", ""};
    std::mt19937 random(42);
    Tree tree;
    tree.root = root;
    struct Node {
        fs::path path;
        size_t depth;
        int children;
    };
    std::vector<Node> nodes;
    nodes.reserve(kContainers);
    int rootChildren = 0;
    const bool exists = fs::exists(root / ".complete");
    auto makeFiles = [&](const fs::path& dir) {
        for (int k = 0; k < kFilesPerDirectory; ++k) {
            const std::string name = std::string(kFiles[random() % std::size(kFiles)]) + "_" +
                                     std::to_string(k) +
                                     kExtensions[random() % std::size(kExtensions)];
            const off_t size = static_cast<off_t>(random() % (1 << 20));
            if (exists)
                continue;
            const int fd = ::open((dir / name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) {
                (void)!ftruncate(fd, size);
                ::close(fd);
            }
        }
    };
    if (!exists)
        fs::create_directories(root);
    for (int i = 0; i < kContainers; ++i) {
        // A third start at the top; the others go below a recent directory, which makes chains.
        Node* parent = nullptr;
        if (!nodes.empty() && random() % 3 != 0) {
            const size_t back = std::min<size_t>(nodes.size() - 1, random() % 8);
            parent = &nodes[nodes.size() - 1 - back];
            if (parent->depth >= 40)
                parent = &nodes[random() % nodes.size()];
        }
        const int index = parent ? parent->children++ : rootChildren++;
        const fs::path base = parent ? parent->path : root;
        const fs::path path = base / (std::string(kWords[random() % std::size(kWords)]) + "-" +
                                      std::to_string(index));
        nodes.push_back({path, parent ? parent->depth + 1 : 1, 1});
        if (!exists) {
            fs::create_directory(path);
            fs::create_directory(path / "src");
        }
        makeFiles(path);
        makeFiles(path / "src");
        const std::wstring src = utf8::toWide((path / "src").string());
        if (nodes.back().depth + 1 > tree.deepestLevels) {
            tree.deepestLevels = nodes.back().depth + 1;
            tree.deepest = src;
        }
        if (i % 157 == 0)
            tree.srcs.push_back(src);
    }
    if (!exists)
        std::ofstream(root / ".complete").put('1');
    return tree;
}

// Runs the program with its output thrown away; the wall time in ms and the child's peak RSS in
// KiB through usage.
double runTimed(const std::vector<std::string>& args, std::string* output, long* peakKiB) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const auto start = Clock::now();
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return -1;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        if (output)
            output->append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double ms = msSince(start);
    if (peakKiB)
        *peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

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
    std::string treeArg;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--tree=", 7) == 0)
            treeArg = argv[i] + 7;
        else
            rest.push_back(argv[i]);
    }
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
