// The running monitor on the benchmarks' tree of 200,000 files in 20,000 directories:
//   - events applied per second: 100,000 ADDED / MODIFIED / REMOVED events from the replay
//     provider, held back until the cache is built and then let go at once;
//   - latency with inotify: from a file's creation to the moment the collector has written its
//     record (the collector's record hook), over 1,000 single creations spaced apart;
//   - peak RSS of the real vigil process monitoring the tree with inotify.
//
//   bench_monitor [--tree=DIR] [--latency-count=N] [--only=replay|latency|rss]
// --tree keeps the generated tree in DIR for later runs (see bench_cache).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cache/eventcollector.h"
#include "cache/fscache.h"
#include "fs/fs_loader.h"
#include "fs/fsprovider.h"
#include "fs/processconfig.h"
#include "log/rklog.h"
#include "sourcetree.h"
#include "sync/namedevent.h"
#include "system/sysinfo.h"
#include "text/utf8.h"
#include "vigil.h"

namespace fs = std::filesystem;
using sourcetree::Clock;
using sourcetree::msSince;

namespace {

constexpr int kEventsPerAction = 33334;  // 100,002 events in all
// Longer than the providers' batch window: each creation comes after a quiet moment.
constexpr std::chrono::milliseconds kSpacing{50};

// Waits for the collector to record one path.
struct RecordWatch {
    std::mutex mutex;
    std::condition_variable recorded;
    std::wstring expected;
    bool seen = false;
    Clock::time_point at;

    void expect(const std::wstring& path) {
        std::lock_guard<std::mutex> lock(mutex);
        expected = path;
        seen = false;
    }
    bool wait(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex);
        return recorded.wait_for(lock, limit, [&] { return seen; });
    }
};
RecordWatch g_watch;

void onRecord(const std::wstring& path) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(g_watch.mutex);
    if (!g_watch.seen && path == g_watch.expected) {
        g_watch.seen = true;
        g_watch.at = now;
        g_watch.recorded.notify_all();
    }
}

// Every file of the tree, in a fixed order.
std::vector<fs::path> treeFiles(const fs::path& root) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path().filename() != ".complete")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void makeFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
}

struct Monitor {
    std::unique_ptr<ChangeMonitor> monitor;
    std::unique_ptr<FS_Cache> cache;
    FsProvider& provider() { return dynamic_cast<FsProvider&>(*monitor); }
};

// Loads provider, gives it root and starts a cache of root in cacheDir; the time of the start.
Monitor startMonitoring(const char* provider, const fs::path& root, const fs::path& cacheDir,
                        bool hold, double& startMs) {
    static ProcessConfig config;
    static CacheSettings settings{0, 31, 0, 0};
    Monitor m;
    m.monitor = loadFsProvider(provider, &config);
    if (!m.monitor)
        return m;
    if (hold)
        m.provider().holdEvents(true);
    const MonitoredPath path(utf8::toWide(root.string()), 1);
    m.monitor->addPath(&path);
    fs::create_directories(cacheDir);
    m.cache = std::make_unique<FS_Cache>(L"dirs", L"files", utf8::toWide(cacheDir.string()).c_str(),
                                         true, false, false, &settings);
    const auto start = Clock::now();
    if (!m.cache->startMonitor(m.monitor.get()))
        m.cache.reset();
    startMs = msSince(start);
    return m;
}

void stopMonitoring(Monitor& m) {
    if (!m.cache)
        return;
    m.cache->stopMonitor();
    m.cache->lock();
    m.cache->closeCache();
    m.cache->deleteCache();
    m.cache->unlock();
    m.cache.reset();
}

int replayRate(const fs::path& root, const fs::path& scratch, const std::vector<fs::path>& files) {
    // ADDED of new files beside existing ones, MODIFIED of existing files, REMOVED of others
    // (the collector takes a removal from the cache alone: the files stay on disk), in turn.
    std::vector<fs::path> added;
    const fs::path eventFile = scratch / "events.txt";
    {
        std::ofstream out(eventFile, std::ios::binary);
        for (int k = 0; k < kEventsPerAction; ++k) {
            const fs::path& modified = files[(3 * k) % files.size()];
            const fs::path& removed = files[(3 * k + 1) % files.size()];
            added.push_back(files[(3 * k + 2) % files.size()].parent_path() /
                            ("bench-new-" + std::to_string(k)));
            out << "ADDED\t" << added.back().string() << "\nMODIFIED\t" << modified.string()
                << "\nREMOVED\t" << removed.string() << "\n";
        }
        added.push_back(root / "bench-marker");
        out << "ADDED\t" << added.back().string() << "\n";
    }
    setenv("VIGIL_REPLAY_FILE", eventFile.c_str(), 1);
    double buildMs = 0;
    Monitor m = startMonitoring("replay", root, scratch / "replay-cache", true, buildMs);
    if (!m.cache) {
        std::fprintf(stderr, "replay: the monitor did not start\n");
        return 1;
    }
    for (const fs::path& path : added)
        makeFile(path);
    g_watch.expect(utf8::toWide(added.back().string()));
    const auto start = Clock::now();
    m.provider().holdEvents(false);
    const bool done = g_watch.wait(std::chrono::seconds(600));
    const double ms = std::chrono::duration<double, std::milli>(g_watch.at - start).count();
    stopMonitoring(m);
    for (const fs::path& path : added)
        fs::remove(path);
    if (!done) {
        std::fprintf(stderr, "replay: the last event was not applied\n");
        return 1;
    }
    const double events = 3.0 * kEventsPerAction + 1;
    std::printf("replay: cache of %zu files built in %.0f ms\n", files.size(), buildMs);
    std::printf("replay: %.0f events applied in %.0f ms: %.0f events/s (goal >= 100,000/s)\n",
                events, ms, events / ms * 1000.0);
    return 0;
}

int inotifyLatency(const fs::path& root, const fs::path& scratch,
                   const std::vector<fs::path>& files, int count) {
    double buildMs = 0;
    Monitor m = startMonitoring("inotify", root, scratch / "latency-cache", false, buildMs);
    if (!m.cache) {
        std::fprintf(stderr, "latency: the monitor did not start\n");
        return 1;
    }
    std::printf("latency: tree watched and built in %.0f ms\n", buildMs);
    std::vector<double> latencies;
    int lost = 0;
    for (int i = 0; i < count; ++i) {
        const fs::path path =
            files[(i * 7919) % files.size()].parent_path() / ("bench-latency-" + std::to_string(i));
        g_watch.expect(utf8::toWide(path.string()));
        const auto start = Clock::now();
        makeFile(path);
        if (g_watch.wait(std::chrono::seconds(10)))
            latencies.push_back(
                std::chrono::duration<double, std::milli>(g_watch.at - start).count());
        else
            ++lost;
        fs::remove(path);
        std::this_thread::sleep_for(kSpacing);
    }
    stopMonitoring(m);
    if (latencies.empty() || lost > 0) {
        std::fprintf(stderr, "latency: %d creations never recorded\n", lost);
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies[std::min(latencies.size() - 1,
                                  static_cast<size_t>(q * static_cast<double>(latencies.size())))];
    };
    std::printf(
        "latency: %zu creations, p50 %.2f ms, p99 %.2f ms, max %.2f ms (goal p99 <= 10 ms)\n",
        latencies.size(), at(0.50), at(0.99), latencies.back());
    return 0;
}

// The real vigil binary monitoring root with inotify: its peak RSS once it has built the cache
// and applied a few hundred changes.
int monitorRss(const fs::path& root, const fs::path& scratch, const std::vector<fs::path>& files) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string vigil = self.substr(0, self.rfind('/') + 1) + "vigil";
    const fs::path work = scratch / "rss-work";
    fs::create_directories(work);
    setenv("VIGIL_LOG", (scratch / "rss-vigil.log").c_str(), 1);
    const std::wstring wd = utf8::toWide(work.string());
    auto init = NamedEvent::create(eventName(wd.c_str(), kInitEventSuffix).c_str(), true, false);
    const std::vector<std::string> args = {"dirs", "files", work.string(), "inotify",
                                           root.string()};
    const auto run = [&](const char* command) {
        std::string line = vigil;
        for (const std::string& a : args)
            line += " '" + a + "'";
        line += std::string(" ") + command;
        return line;
    };
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<std::string> argv{vigil};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back("start");
        std::vector<char*> raw;
        for (std::string& a : argv)
            raw.push_back(a.data());
        raw.push_back(nullptr);
        execv(vigil.c_str(), raw.data());
        _exit(127);
    }
    if (pid < 0 || !init || init->waitTimeout(600000) != 0) {
        std::fprintf(stderr, "rss: vigil did not start\n");
        return 1;
    }
    const double startMs = msSince(start);
    for (int i = 0; i < 300; ++i) {
        const fs::path path = files[(i * 104729) % files.size()].parent_path() / "bench-rss";
        makeFile(path);
        fs::remove(path);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line, peak = "?", now = "?";
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            peak = line.substr(6);
        else if (line.rfind("VmRSS:", 0) == 0)
            now = line.substr(6);
    }
    const int stopped = std::system(run("stop").c_str());
    int status_ = 0;
    waitpid(pid, &status_, 0);
    std::printf(
        "rss: vigil started (inotify on %zu files) in %.0f ms; peak RSS%s, now%s "
        "(goal <= 32 MB)\n",
        files.size(), startMs, peak.c_str(), now.c_str());
    return stopped == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    const std::string treeArg = sourcetree::takeTreeArgument(argc, argv, rest);
    std::string only;
    int latencyCount = 1000;
    for (char* arg : rest) {
        if (std::strncmp(arg, "--latency-count=", 16) == 0)
            latencyCount = std::max(1, std::atoi(arg + 16));
        else if (std::strncmp(arg, "--only=", 7) == 0)
            only = arg + 7;
    }
    const auto wanted = [&](const char* name) { return only.empty() || only == name; };
    // The monitor's own log would only slow it down.
    setenv("VIGIL_LOG", "off", 0);
    getRkLogFs()->reconfigure();
    const fs::path scratch = fs::temp_directory_path() /
                             ("vigil-bench-monitor-" + std::to_string(sysinfo::currentProcessId()));
    fs::create_directories(scratch);
    const fs::path root = treeArg.empty() ? scratch / "tree" : fs::path(treeArg);
    auto start = Clock::now();
    sourcetree::generate(root);
    const std::vector<fs::path> files = treeFiles(root);
    std::printf("tree: %s, %zu files (ready in %.0f ms)\n", root.c_str(), files.size(),
                msSince(start));
    std::fflush(stdout);

    EventCollector::setRecordHook(onRecord);
    int failures = wanted("replay") ? replayRate(root, scratch, files) : 0;
    std::fflush(stdout);
    failures += wanted("latency") ? inotifyLatency(root, scratch, files, latencyCount) : 0;
    std::fflush(stdout);
    EventCollector::setRecordHook(nullptr);
    failures += wanted("rss") ? monitorRss(root, scratch, files) : 0;

    std::error_code ec;
    fs::remove_all(scratch, ec);
    return failures == 0 ? 0 : 1;
}
