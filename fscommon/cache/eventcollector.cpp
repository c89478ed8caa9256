#include "cache/eventcollector.h"

#include <atomic>
#include <vector>

#include "cache/cacheschema.h"
#include "cache/fscache.h"
#include "fsbuild/fsbuild.h"
#include "listing/listing.h"
#include "sync/threados.h"
#include "system/platform.h"
#include "system/sysinfo.h"
#include "text/pathhelper.h"
#include "text/strutil.h"

namespace {

constexpr char kLogModule[] = "fscommon/cache";

// How long one wait for accessMutex lasts before the collector looks for a stop request.
constexpr unsigned kLockPollMs = 100;
// Under an endless stream of events the collector still lets go of accessMutex this often, and
// pauses long enough for a reader waiting for it to take it.
constexpr uint32_t kMaxHoldMs = 250;
constexpr unsigned kYieldMs = 2;

std::atomic<EventCollector::RecordHook> g_recordHook{nullptr};

// Names compare as the platform's file system compares them: b against the first n units of a.
bool samePrefix(const std::wstring& a, size_t n, const std::wstring& b) {
    if (n != b.size())
        return false;
    return platform::nameCaseSensitive(false) ? a.compare(0, n, b) == 0
                                              : compareNoCaseN(a.c_str(), b.c_str(), n) == 0;
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    return samePrefix(a, a.size(), b);
}

// An entry that vanished before it was looked at: gone itself, or its directory gone.
bool vanished(uint32_t error) {
    return error == sysinfo::kErrorFileNotFoundCode || error == sysinfo::kErrorPathNotFoundCode;
}

void recorded(const std::wstring& path) {
    if (EventCollector::RecordHook hook = g_recordHook.load(std::memory_order_relaxed))
        hook(path);
}

}  // namespace

void EventCollector::setRecordHook(RecordHook hook) {
    g_recordHook.store(hook);
}

EventCollector::EventCollector(FS_Cache& cache, unsigned queueTimeout)
    : queueTimeout(queueTimeout), cache(cache), log(getRkLogFs()) {}

EventCollector::~EventCollector() = default;

bool EventCollector::stopping() const {
    return stopRequested.load() || cache.stopRequested();
}

int EventCollector::lockCache() {
    for (;;) {
        const int waited = cache.accessMutex->waitTimeout(kLockPollMs);
        if (waited != SYNC_TIMEOUT)
            return waited;
        if (stopping())
            return SYNC_TIMEOUT;
    }
}

void EventCollector::run() {
    LOG_ENTRY(log, "EventCollector::run() - entering...\n");
    bool holding = false;
    uint32_t heldSince = 0;
    while (!stopping()) {
        FsEvent event = cache.eventQueue->get(queueTimeout);
        if (event.isValid()) {
            if (!holding) {
                const int locked = lockCache();
                if (locked == SYNC_TIMEOUT)
                    break;  // told to stop while waiting: the event is not applied
                if (locked != 0) {
                    LOG_TRACE(log,
                              "EventCollector::run() - problem accessing to mutex... thread "
                              "ended!\n");
                    break;
                }
                holding = true;
                heldSince = sysinfo::tickCount();
            }
            // A stop requested since the event was taken: the tables are about to go.
            if (stopping())
                break;
            processDirectoryChange(event);
            if (sysinfo::tickCount() - heldSince >= kMaxHoldMs) {
                cache.accessMutex->release();
                holding = false;
                sleepMs(kYieldMs);
            }
        } else if (holding) {
            cache.accessMutex->release();
            holding = false;
            sleepMs(0);
        } else {
            sleepMs(0);
        }
    }
    if (holding)
        cache.accessMutex->release();
    LOG_EXIT(log, "EventCollector::run() - exit.\n");
}

void EventCollector::processDirectoryChange(const FsEvent& event) {
    if (!event.path) {
        LOG_TRACE(log, "EventCollector::processDirectoryChange - invalid action.\n");
        LOG_EXIT(log, "EventCollector::processDirectoryChange() - exit.\n");
        return;
    }
    const std::wstring& path = *event.path;
    // The directory part keeps its separator; a root ("/", "C:\") is all directory.
    const size_t cut = path.rfind(platform::kPathSeparator);
    const std::wstring directory = cut == std::wstring::npos ? L"" : path.substr(0, cut + 1);
    const std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);

    FileInfo info;
    switch (event.action) {
        case FS_ACTION_ADDED:
        case FS_ACTION_NEW_NAME: {
            if (const MonitoredPath* root = rootNamed(path)) {
                rebuildRoot(*root);
                break;
            }
            const uint32_t error = getFileInfo(path.c_str(), info);
            if (error == 0) {
                processFileActionAdded(path, directory, name, info);
            } else if (vanished(error)) {
                park(event);
            } else {
                LOG_TRACE(log,
                          "EventCollector::processDirectoryChange - FS_ACTION_ADDED failed on "
                          "'%ls'!\n",
                          path.c_str());
            }
            break;
        }
        case FS_ACTION_REMOVED:
        case FS_ACTION_OLD_NAME:
            processFileActionRemoved(path, directory, name, unpark(path));
            break;
        case FS_ACTION_MODIFIED: {
            const uint32_t error = getFileInfo(path.c_str(), info);
            if (error == 0) {
                processFileActionModified(path, directory, name, info);
            } else if (!vanished(error)) {
                LOG_TRACE(log,
                          "EventCollector::processDirectoryChange - FS_ACTION_MODIFIED failed on "
                          "'%ls'!\n",
                          path.c_str());
            }
            // An entry that vanished has its removal queued behind this event.
            break;
        }
        default:
            LOG_TRACE(log, "EventCollector::processDirectoryChange - invalid action.\n");
            break;
    }
    LOG_EXIT(log, "EventCollector::processDirectoryChange() - exit.\n");
}

void EventCollector::park(const FsEvent& event) {
    if (pendingEvents.size() >= kMaxPendingEvents) {
        LOG_TRACE(log,
                  "EventCollector::processDirectoryChange - %u events parked, the oldest "
                  "('%ls') is dropped\n",
                  static_cast<unsigned>(pendingEvents.size()),
                  pendingEvents.front().path ? pendingEvents.front().path->c_str() : L"");
        pendingEvents.pop_front();
    }
    pendingEvents.push_back(event);
}

bool EventCollector::unpark(const std::wstring& path) {
    for (auto it = pendingEvents.begin(); it != pendingEvents.end(); ++it) {
        if (it->path && samePath(*it->path, path)) {
            pendingEvents.erase(it);
            return true;
        }
    }
    return false;
}

uint32_t EventCollector::getFileInfo(const wchar_t* path, FileInfo& info) {
    listing::ListingEntry entry;
    const uint32_t result = listing::lookupEntry(path ? path : L"", entry);
    if (result == 0) {
        info.shortName = entry.shortName;
        info.longName = entry.name;
        info.mode = modeWord(entry);
        info.sizeHigh = entry.sizeHigh;
        info.sizeLow = entry.sizeLow;
        info.attributes = entry.attributes;
    } else if (!vanished(result)) {
        LOG_TRACE_AS(log, "checkDirectory",
                     "EventCollector::checkDirectory - Invalid file handle. Error is %u\n",
                     static_cast<unsigned>(result));
    }
    LOG_EXIT(log, "EventCollector::getFileInfo() - exit. %u\n", static_cast<unsigned>(result));
    return result;
}

const MonitoredPath* EventCollector::rootNamed(const std::wstring& path) const {
    for (const MonitoredPath& root : cache.monitoredRoots) {
        if (!root.path)
            continue;
        // Without trailing separators, but "C:\" and "/" keep theirs, as the providers report
        // them. Compared in place: this runs for every added event.
        const std::wstring& text = *root.path;
        size_t length = text.size();
        while (length > 1 && text[length - 1] == platform::kPathSeparator &&
               !(length == 3 && text[1] == L':')) {
            --length;
        }
        if (samePrefix(text, length, path))
            return &root;
    }
    return nullptr;
}

void EventCollector::rebuildRoot(const MonitoredPath& root) {
    forgetDirectories();
    if (cache.findDirectory(cache.directoriesRecordSet, cache.parentRecordSet, root.text(),
                            false)) {
        cache.removeTree(cache.tbDirectories.get(), cache.tbFiles.get(),
                         cache.directoriesRecordSet.getUInt32(cacheschema::kId));
    }
    const int result = cache.build(root);
    if (result != SCAN_OK) {
        LOG_TRACE(log, "EventCollector::processDirectoryChange - rescan of '%ls' ended with %d\n",
                  root.text(), result);
    }
}

bool EventCollector::directoryId(const std::wstring& directory, uint32_t& id) {
    constexpr wchar_t sep = platform::kPathSeparator;
    const size_t rootEnd = directory.find(sep) + 1;  // "/" or "C:\"
    if (rootEnd == 0 || directory.back() != sep)
        return false;
    // The longest known prefix (each prefix ends with a separator), or the root from the cache.
    std::vector<size_t> below;
    size_t end = directory.size();
    uint32_t current = 0;
    for (;;) {
        const std::wstring prefix = directory.substr(0, end);
        if (auto it = knownDirectories.find(prefix); it != knownDirectories.end()) {
            current = it->second;
            break;
        }
        if (end <= rootEnd) {
            if (!cache.findDirectory(cache.directoriesRecordSet, cache.parentRecordSet,
                                     prefix.c_str(), false)) {
                return false;
            }
            current = cache.directoriesRecordSet.getUInt32(cacheschema::kId);
            remember(prefix, current);
            break;
        }
        below.push_back(end);
        end = directory.rfind(sep, end - 2) + 1;
    }
    // Then each component below it among the children of the one above.
    for (auto it = below.rbegin(); it != below.rend(); ++it) {
        const std::wstring name = directory.substr(end, *it - end - 1);
        if (!cache.findChildDirectory(current, name.c_str(), false))
            return false;
        current = cache.directoriesRecordSet.getUInt32(cacheschema::kId);
        end = *it;
        remember(directory.substr(0, end), current);
    }
    id = current;
    return true;
}

void EventCollector::remember(const std::wstring& directory, uint32_t id) {
    if (knownDirectories.size() >= kMaxKnownDirectories)
        knownDirectories.clear();
    knownDirectories.emplace(directory, id);
}

bool EventCollector::processFileActionAdded(const std::wstring& path, const std::wstring& directory,
                                            const std::wstring& name, const FileInfo& info) {
    bool result = false;
    uint32_t parentId = 0;
    if (info.isDirectory() && (info.attributes & listing::kAttrReparsePoint) != 0) {
        // A link or junction to a directory is neither recorded nor followed, as in a scan.
        result = true;
    } else if (!directoryId(directory, parentId)) {
        LOG_TRACE(log, "EventCollector::processFileActionAdded - pathname '%ls' not found!\n",
                  directory.c_str());
    } else if (info.isDirectory()) {
        RecordSet& directories = cache.directoriesRecordSet;
        uint32_t id = 0;
        if (cache.findChildDirectory(parentId, name.c_str(), false)) {
            // Known already: the record takes the name as it now stands, and what lies below
            // is read again, since the directory may have filled before anyone watched it.
            id = directories.getUInt32(cacheschema::kId);
            directories.setString(cacheschema::kPathName, info.longName.c_str());
            directories.setString(cacheschema::kShortPathName, info.shortName.c_str());
            directories.updateRecord();
            forgetDirectories();
            cache.removeChildren(cache.tbDirectories.get(), cache.tbFiles.get(), id);
        } else if (cache.directoriesIndex != cacheschema::kLastDirectoryId &&
                   cache.addDirectoryRecord(directories, cache.directoriesIndex + 1,
                                            info.longName.c_str(), info.shortName.c_str(), parentId,
                                            static_cast<uint32_t>(currentTime()))) {
            id = ++cache.directoriesIndex;
        }
        if (id != 0) {
            recorded(path);
            cache.scan(MonitoredPath(PathHelper::withTrailingSeparator(path), 1), directories,
                       cache.directoriesIndex, cache.filesRecordSet, id, {}, {}, false,
                       kScanBudgetMs);
            result = true;
        }
    } else {
        RecordSet& files = cache.filesRecordSet;
        const bool known = cache.findFile(files, parentId, name.c_str(), false);
        files.setString(cacheschema::kFileName, info.longName.c_str());
        files.setString(cacheschema::kShortFileName, info.shortName.c_str());
        files.setUInt64(cacheschema::kSize, info.size());
        files.setUInt32(cacheschema::kAttr, info.mode);
        if (known) {
            result = files.updateRecord();
        } else {
            files.setUInt32(cacheschema::kPathId, parentId);
            files.setString(cacheschema::kMd5, cacheschema::kNoDigest);
            files.setUInt32(cacheschema::kCrc32, 0);
            files.setUInt32(cacheschema::kQ32, 0);
            result = files.addRecord();
        }
        if (result)
            recorded(path);
    }
    LOG_EXIT(log, "EventCollector::processFileActionAdded() - exit. %d\n", result ? 1 : 0);
    return result;
}

bool EventCollector::processFileActionModified(const std::wstring& path,
                                               const std::wstring& directory,
                                               const std::wstring& name, const FileInfo& info) {
    bool result = false;
    uint32_t parentId = 0;
    if (info.isDirectory()) {
        LOG_TRACE(log,
                  "EventCollector::processFileActionModified - no directory changes available on "
                  "'%ls'\n",
                  path.c_str());
    } else if (!directoryId(directory, parentId)) {
        LOG_TRACE(log,
                  "EventCollector::processFileActionModified - unable to find the directory "
                  "containing the file to modify.\n");
    } else if (cache.findFile(cache.filesRecordSet, parentId, name.c_str(), false)) {
        RecordSet& files = cache.filesRecordSet;
        files.setUInt64(cacheschema::kSize, info.size());
        files.setUInt32(cacheschema::kAttr, info.mode);
        result = files.updateRecord();
    } else {
        LOG_TRACE(log,
                  "EventCollector::processFileActionModified - unable to find the file to "
                  "modify.\n");
    }
    LOG_EXIT(log, "EventCollector::processFileActionModified() - exit. %d\n", result ? 1 : 0);
    return result;
}

bool EventCollector::processFileActionRemoved(const std::wstring& path,
                                              const std::wstring& directory,
                                              const std::wstring& name, bool quiet) {
    bool result = false;
    uint32_t parentId = 0;
    if (name.empty()) {
        // A drive root ("/", "C:\"): only the cache can say what it held.
        if (cache.findDirectory(cache.directoriesRecordSet, cache.parentRecordSet, path.c_str(),
                                false)) {
            forgetDirectories();
            cache.removeTree(cache.tbDirectories.get(), cache.tbFiles.get(),
                             cache.directoriesRecordSet.getUInt32(cacheschema::kId));
            result = true;
        }
    } else if (!directoryId(directory, parentId)) {
        if (!quiet) {
            LOG_TRACE(log,
                      "EventCollector::processFileActionRemoved - unable to find the directory "
                      "containing the file to remove.\n");
        }
    } else if (cache.findChildDirectory(parentId, name.c_str(), false)) {
        // The entry is gone from disk: only the cache can tell a directory from a file.
        forgetDirectories();
        cache.removeTree(cache.tbDirectories.get(), cache.tbFiles.get(),
                         cache.directoriesRecordSet.getUInt32(cacheschema::kId));
        result = true;
    } else if (cache.findFile(cache.filesRecordSet, parentId, name.c_str(), false)) {
        result = cache.filesRecordSet.removeRecord();
    } else if (!quiet) {
        LOG_TRACE(log,
                  "EventCollector::processFileActionRemoved - unable to find the file to "
                  "remove.\n");
    }
    LOG_EXIT(log, "EventCollector::processFileActionRemoved() - exit. %d\n", result ? 1 : 0);
    return result;
}
