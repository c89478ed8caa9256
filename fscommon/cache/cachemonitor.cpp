// Starting and stopping the monitor: the provider's monitor object, the event queue, the initial
// build and the event collector's thread.
//
// Who touches the tables when: startMonitor creates and builds them holding accessMutex; then the
// collector applies events holding it for each burst; a tear-down takes it after stopMonitor.
// monitorControl keeps a start and a stop from two threads apart; a stop request (requestStop)
// makes a running build end at its next directory, so a stop never waits for a whole build.
#include "cache/eventcollector.h"
#include "cache/eventqueue.h"
#include "cache/fscache.h"
#include "fs/changemonitor.h"
#include "system/wow64helper.h"

namespace {

constexpr char kLogModule[] = "fscommon/cache";

constexpr wchar_t kQueueName[] = L"vigilQueue";
constexpr unsigned kQueueTimeoutMs = 1000;
constexpr int32_t kCreateTimeoutMs = 3600000;

// Set on a thread once it has switched WOW64 file-system redirection off.
thread_local bool t_redirectionOff = false;

}  // namespace

bool FS_Cache::startMonitor(ChangeMonitor* newMonitor) {
    std::lock_guard<std::recursive_mutex> control(monitorControl);
    bool started = false;
    if (!monitorEnabled || newMonitor == nullptr || monitor != nullptr || collector) {
        stopMonitorLocked();
    } else {
        collector = std::make_unique<EventCollector>(*this, kQueueTimeoutMs);
        collectorThread = createThread(collector.get());
        if (collectorThread && collectorThread->create() == 0) {
            eventQueue = std::make_unique<EventQueue>(kQueueName);
            if (eventQueue->valid()) {
                monitor = newMonitor;
                monitor->setEventQueue(eventQueue.get());
            }
        }
        if (monitor == nullptr) {
            stopMonitorLocked();
        } else if (lock() != 0) {
            stopMonitorLocked();
        } else {
            started = buildLocked();
            collectorRunning = started && collectorThread->start() == 0;
            const bool ready = collectorRunning;
            unlock();
            if (ready) {
                LOG_TRACE(log, "FS_Cache::startMonitor - monitor started!\n");
            } else {
                started = false;
                stopMonitorLocked();
            }
        }
    }
    LOG_EXIT(log, "FS_Cache::startMonitor - exit. %d\n", started ? 1 : 0);
    return started;
}

bool FS_Cache::buildLocked() {
    if (create(kCreateTimeoutMs, FS_CACHE_CREATE) != SUCCESS) {
        LOG_TRACE(log, "FS_Cache::startMonitor - unable to create monitor cache!\n");
        return false;
    }
    if (monitor->startMonitoring() != 0)
        return false;
    // From here on events may arrive; they wait in the queue until the builds are done.
    monitoredRoots.clear();
    monitor->getMonitoredPaths(&monitoredRoots);
    if (!t_redirectionOff) {
        Wow64Helper wow64;
        wow64.disableWow64FsRedirection();
        t_redirectionOff = true;
    }
    for (const MonitoredPath& root : monitoredRoots) {
        if (stopRequested())
            break;
        const int result = build(root);
        if (result != SCAN_OK && !stopRequested()) {
            LOG_TRACE(log, "FS_Cache::startMonitor() build failed for %ls\n",
                      root.text() ? root.text() : L"");
        }
    }
    // Stopped part-way: the tables are about to be torn down and nothing may be added to them.
    if (stopRequested())
        return false;
    writeDirectoriesIndex();
    return true;
}

bool FS_Cache::stopMonitor() {
    std::lock_guard<std::recursive_mutex> control(monitorControl);
    stopMonitorLocked();
    return true;
}

void FS_Cache::stopMonitorLocked() {
    if (monitor != nullptr) {
        monitor->stopMonitoring();
        monitor->cleanup();
        monitor->setEventQueue(nullptr);
        monitor = nullptr;
    }
    if (collectorThread) {
        if (collectorRunning) {
            collector->requestStop();
            // An idle collector waits for the queue: an empty event wakes it to see the stop.
            if (eventQueue)
                eventQueue->append(FsEvent());
            collectorThread->wait();
        }
        collectorThread.reset();
        collectorRunning = false;
    }
    collector.reset();
    eventQueue.reset();
}
