// The event collector: the cache's thread that takes change events out of the event queue and
// applies them to the tables. A new file gets a record, a new directory a record and a scan, a
// modified file its size and mode word, a removed file loses its record and a removed directory
// its whole subtree.
//
// The tables never get a second record for one entry nor keep a record for an entry that is
// gone:
// - an added (or new-name) event for an entry that already has a record refreshes that record;
//   a directory's content is then read again, so that entries created before the provider
//   watched the directory are not missed;
// - an added event whose entry has vanished by the time it is looked at is parked (at most
//   kMaxPendingEvents, the oldest dropped first); the removal that follows only takes it back
//   and stays quiet, but still removes a record when there is one;
// - a modified event whose entry has vanished is dropped;
// - an added event for a monitored root (a provider's rescan request after lost events, which
//   follows the root's removal) drops whatever the root has and builds it again, as at the
//   start, since a root such as "/" or "C:\" has no parent to be added under.
//
// The collector holds accessMutex for a burst of events and releases it after queueTimeout
// without events, and at least every quarter second during a long burst, so that a reader is
// never shut out by a stream of changes. Once a stop is requested (its own flag or the cache's
// requestStop) it applies no further event: it finishes the one in hand and leaves.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

#include "cache/eventqueue.h"
#include "log/rklog.h"
#include "sync/win32sync.h"
#include "text/monitoredpath.h"

class FS_Cache;

// What the listing says about one entry, as the handlers use it.
struct FileInfo {
    uint32_t mode = 0;  // ATTR (fsbuild's modeWord)
    uint32_t sizeHigh = 0;
    uint32_t sizeLow = 0;
    std::wstring longName;
    std::wstring shortName;
    uint32_t attributes = 0;  // the listing's attribute bits

    bool isDirectory() const { return (mode & 0x1) != 0; }
    uint64_t size() const { return (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow; }
};

class EventCollector : public Runnable {
  public:
    // Most events parked at once.
    static constexpr size_t kMaxPendingEvents = 4096;
    // Most directory ids kept at once.
    static constexpr size_t kMaxKnownDirectories = 1024;

    // Called after the collector has written the record of an added entry, with its path; for
    // measurements. Set it before the collector starts, or leave it null.
    using RecordHook = void (*)(const std::wstring& path);
    static void setRecordHook(RecordHook hook);

    // Applies events to cache (not owned), waiting queueTimeout ms per queue wait.
    explicit EventCollector(FS_Cache& cache, unsigned queueTimeout = 1000);
    ~EventCollector() override;

    // The thread's loop: takes events from the cache's queue until a stop is requested.
    void run() override;
    // Asks run to end after the event in hand; any thread.
    void requestStop() { stopRequested.store(true); }

    // Applies one event; the caller holds accessMutex (or is the only user of the tables).
    void processDirectoryChange(const FsEvent& event);

    // Fills info for the entry at path: 0, or the platform's error code (2: not found).
    uint32_t getFileInfo(const wchar_t* path, FileInfo& info);
    bool processFileActionAdded(const std::wstring& path, const std::wstring& directory,
                                const std::wstring& name, const FileInfo& info);
    bool processFileActionModified(const std::wstring& path, const std::wstring& directory,
                                   const std::wstring& name, const FileInfo& info);
    // quiet: a parked added event of the same path took the removal; nothing missing is
    // reported.
    bool processFileActionRemoved(const std::wstring& path, const std::wstring& directory,
                                  const std::wstring& name, bool quiet = false);

    size_t pendingCount() const { return pendingEvents.size(); }

  private:
    bool stopping() const;
    // Waits for accessMutex, giving up when a stop is requested: 0, SYNC_FAILED, or
    // SYNC_TIMEOUT for a stop.
    int lockCache();
    void park(const FsEvent& event);
    // Takes back the parked event of path, if any.
    bool unpark(const std::wstring& path);
    // The monitored root that path names, or null.
    const MonitoredPath* rootNamed(const std::wstring& path) const;
    void rebuildRoot(const MonitoredPath& root);
    // The id of the record of directory (the directory part of an event, with its separator).
    bool directoryId(const std::wstring& directory, uint32_t& id);
    void remember(const std::wstring& directory, uint32_t id);
    void forgetDirectories() { knownDirectories.clear(); }

    std::atomic<bool> stopRequested{false};
    const unsigned queueTimeout;
    FS_Cache& cache;
    RkLogWrapper* log;
    std::deque<FsEvent> pendingEvents;
    // Directories looked up lately (path with its separator) and their ids: events mostly touch
    // few directories, and a directory's path is then found from its parent's in one step.
    // Forgotten whenever a directory record goes.
    std::unordered_map<std::wstring, uint32_t> knownDirectories;
};
