#include "monitor.h"

#include <memory>
#include <mutex>

#include "cache/fscache.h"
#include "fs/fs_loader.h"
#include "log/rklog.h"
#include "pathlist.h"
#include "vigil.h"

namespace {

constexpr char kLogModule[] = "vigil/vigil";

// What a running monitor holds; the main thread's.
struct RunningMonitor {
    std::unique_ptr<ChangeMonitor> monitor;
    MonitoredPathList paths;
    std::unique_ptr<FS_Cache> cache;
};
RunningMonitor g_running;

// The console control handler runs on a thread of its own, at any moment. It reaches the cache
// only through g_cache, and holds g_cacheMutex for its whole work: the main thread clears g_cache
// under the same mutex before it destroys the cache, so the handler never meets a destroyed one.
std::mutex g_cacheMutex;
FS_Cache* g_cache = nullptr;
// A control event came: the process is about to end, nothing more is built or written.
bool g_controlEvent = false;

// The tear-down runs once per cache, by the main thread or by the handler, whichever comes
// first; the other finds it done and leaves the tables alone.
std::mutex g_tearDownMutex;
bool g_tornDown = false;

void failStart(const wchar_t* workingDirectory) {
    signalSyncEvent(workingDirectory);
    closeSyncEvent();
}

// lock, closeCache, deleteCache, unlock. The caller has stopped the monitor, so that no thread
// of the cache waits for the lock.
void tearDownCache(FS_Cache& cache) {
    std::lock_guard<std::mutex> once(g_tearDownMutex);
    if (g_tornDown)
        return;
    const bool locked = cache.lock() == 0;
    cache.closeCache();
    cache.deleteCache();
    if (locked)
        cache.unlock();
    g_tornDown = true;
    LOG_TRACE(getRkLogFs(), "[vigil]::main - cache deleted\n");
}

// Tears the cache down and destroys it; the handler can no longer reach it.
void releaseCache(std::unique_ptr<FS_Cache> cache) {
    if (!cache)
        return;
    tearDownCache(*cache);
    {
        std::lock_guard<std::mutex> guard(g_cacheMutex);
        g_cache = nullptr;
    }
    cache.reset();
}

}  // namespace

bool startMonitorProcess(const MonitorArguments& args, ProcessConfig& config) {
    RkLogWrapper* log = getRkLogFs();
    const wchar_t* wd = args.workingDirectory.c_str();

    LOG_TRACE(log, "[vigil]::main - loading %s...\n", args.providerName.c_str());
    std::unique_ptr<ChangeMonitor> monitor = loadFsProvider(args.providerName.c_str(), &config);
    if (!monitor) {
        LOG_TRACE(log, "[vigil]::main - unable to load %s\n", args.providerName.c_str());
        failStart(wd);
        return false;
    }
    LOG_TRACE(log, "[vigil]::main - %s loaded.\n", args.providerName.c_str());

    MonitoredPathList paths;
    if (!buildMonitoredPathList(args.pathList.c_str(), paths)) {
        LOG_TRACE(log, "[vigil]::main - unable to parse the monitor path list!\n");
        failStart(wd);
        return false;
    }
    for (const MonitoredPath& path : paths) {
        LOG_TRACE(log, "[vigil]::main - monitoredPath: [%ls]\n", path.text());
        if (monitor->addPath(&path) == -1)
            LOG_TRACE(log, "[vigil]::main - path '%ls' not monitored!\n", path.text());
    }

    auto cache = std::make_unique<FS_Cache>(args.directoriesTable.c_str(), args.filesTable.c_str(),
                                            wd, true, false, false, config.settings);
    bool stored = false;
    if (cache->isInitialized()) {
        std::lock_guard<std::mutex> guard(g_cacheMutex);
        if (!g_controlEvent) {
            g_cache = cache.get();
            g_tornDown = false;
            stored = true;
        }
    }
    if (!stored) {
        LOG_TRACE(log, "[vigil]::main - unable to create the monitor cache!\n");
        failStart(wd);
        return false;
    }
    if (!cache->startMonitor(monitor.get())) {
        LOG_TRACE(log, "[vigil]::main - start monitor failed!\n");
        failStart(wd);
        releaseCache(std::move(cache));
        return false;  // the monitor object goes, then the path list
    }
    g_running.monitor = std::move(monitor);
    g_running.paths = std::move(paths);
    g_running.cache = std::move(cache);
    return true;
}

bool writeMonitorPID(const wchar_t* workingDirectory) {
    // Not after a control event: its handler has removed the file already, or is about to.
    std::lock_guard<std::mutex> guard(g_cacheMutex);
    return !g_controlEvent && createMonitorPID(workingDirectory, kPidFileName);
}

void stopMonitorProcess() {
    RkLogWrapper* log = getRkLogFs();
    if (g_running.cache)
        g_running.cache->stopMonitor();
    LOG_TRACE(log, "[vigil]::main - monitor stopped!\n");
    closeSyncEvent();
    removeMonitorPID();
    releaseCache(std::move(g_running.cache));
    g_running.monitor.reset();
    g_running.paths.clear();
    std::lock_guard<std::mutex> guard(g_cacheMutex);
    g_controlEvent = false;
}

void monitorControlWork() {
    std::lock_guard<std::mutex> guard(g_cacheMutex);
    g_controlEvent = true;
    if (g_cache == nullptr)
        return;
    // A running build ends at its next directory and the collector after the event in hand;
    // then the tables are the handler's.
    g_cache->requestStop();
    g_cache->stopMonitor();
    tearDownCache(*g_cache);
    removeMonitorPID();
}
