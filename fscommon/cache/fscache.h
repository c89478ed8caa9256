// The file-system cache: one record per directory and per file under the monitored roots, kept in
// two tables (see cacheschema.h), with the operations that create, open and tear the tables down,
// fill them by scanning the disk, find a directory by path and remove a file set or a subtree.
//
// Lifecycle: construct → create (new or opened tables) → build / scan / lookups → closeCache →
// deleteCache → destroy. The tables, record sets and criteria are used by one thread at a time:
// whoever holds accessMutex (lock / unlock), or the thread that builds the cache before anyone
// else can reach it.
//
// Names are matched literally: a lookup by name accepts a record only when its name equals the
// name under the platform's case rule (without regard to case on Windows, exactly on Linux), even
// though the criteria language would read "*" and "?" in the name as wildcards. On Windows a name
// with "~" may be an 8.3 alternate name and is also matched against the short name; Linux has no
// short names.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cache/cachesettings.h"
#include "criteriaevaluator.h"
#include "field.h"
#include "log/rklog.h"
#include "recordset.h"
#include "sync/win32sync.h"
#include "syntaxvalue.h"
#include "table.h"
#include "text/monitoredpath.h"

// Results of create.
inline constexpr int32_t SUCCESS = 0;
inline constexpr int32_t CACHE_ALREADY_OPENED = -51;
inline constexpr int32_t CACHE_FAILED = -53;

// Creation dispositions of create.
inline constexpr int32_t FS_CACHE_CREATE = 0;
inline constexpr int32_t FS_CACHE_OPEN = 1;
inline constexpr int32_t FS_CACHE_OPEN_ALWAYS = 2;

// Results of build and scan.
inline constexpr int SCAN_OK = 0;
inline constexpr int SCAN_ERROR = 1;    // a listing broke off part-way
inline constexpr int SCAN_TIMEOUT = 2;  // the time budget ran out, or a stop was requested

// The time budget every caller of build and scan gives, in milliseconds.
inline constexpr int32_t kScanBudgetMs = 2000000000;

class ChangeMonitor;
class EventCollector;
class EventQueue;
class Thread;

class FS_Cache {
  public:
    // Copies the names and settings; the cache directory is workingDirectory made absolute.
    // Check isInitialized: a cache whose construction failed answers create with CACHE_FAILED.
    FS_Cache(const wchar_t* directoriesTableName, const wchar_t* filesTableName,
             const wchar_t* workingDirectory, bool monitorEnabled, bool compactTables,
             bool cacheCheckerEnabled, const CacheSettings* settings);
    ~FS_Cache();
    FS_Cache(const FS_Cache&) = delete;
    FS_Cache& operator=(const FS_Cache&) = delete;

    bool isInitialized() const { return cacheInitialized; }
    bool isCorrupted() const { return cacheCorrupted; }

    // --- lifecycle -------------------------------------------------------------------------

    // Creates or opens the tables by creationDisposition (FS_CACHE_*): SUCCESS,
    // CACHE_ALREADY_OPENED after an earlier success, or CACHE_FAILED. timeout is only logged.
    int32_t create(int32_t timeout, int32_t creationDisposition);
    // Opens existing tables; refused when the counter is missing or too high or, with the
    // checker on, when the update marker of an unfinished run is present.
    bool openCache();
    // Creates both tables empty and the counter file at 0.
    bool createCache();
    bool openTable(std::unique_ptr<Table>& table, const wchar_t* name);
    bool createFilesTable(std::unique_ptr<Table>& table, const wchar_t* name);
    bool createDirectoriesTable(std::unique_ptr<Table>& table, const wchar_t* name);

    // Waits for accessMutex without time-out: 0 or CACHE_FAILED.
    int32_t lock();
    // Releases accessMutex; false when there is none or the release failed.
    bool unlock();

    // The update marker: present from table creation or opening until closeCache, only while the
    // checker is on.
    void beginCacheUpdate();
    void endCacheUpdate();
    bool insideCacheUpdate();

    // The counter file: directoriesIndex as 4 little-endian bytes.
    bool readDirectoriesIndex();
    bool writeDirectoriesIndex();
    void removeDirectoriesIndex();
    void removeExclusionHashes();

    // Stops a running monitor, closes both tables (their record sets end) and removes the update
    // marker; always true. A tear-down stops the monitor before it takes accessMutex: stopMonitor,
    // lock, closeCache, deleteCache, unlock.
    bool closeCache();
    // Deletes the closed tables' files, the counter and the exclusion digests; true when both
    // tables' files were dropped.
    bool deleteCache();

    // Asks a running build or scan to end: it stops when it next enters a directory, as when
    // its time budget runs out (SCAN_TIMEOUT), leaving what it wrote consistent. The event
    // collector leaves after the event in hand, and startMonitor no longer starts. Any thread;
    // the request stays.
    void requestStop() { stopRequest.store(true, std::memory_order_relaxed); }
    bool stopRequested() const { return stopRequest.load(std::memory_order_relaxed); }

    // --- monitoring (cachemonitor.cpp) ------------------------------------------------------

    // Hands monitor an event queue, creates new tables, starts monitor, builds every path it
    // monitors and then starts the event collector on a thread of its own. accessMutex is held
    // from the creation of the tables to the end of the builds. False (with monitoring stopped)
    // when monitoring is disabled, monitor is null, a monitor is already set (that one is
    // stopped), the tables cannot be created, monitor does not start, or a stop was requested
    // before the collector could start. monitor is not owned.
    bool startMonitor(ChangeMonitor* monitor);
    // Stops and detaches the monitor, ends the collector (it finishes the event in hand) and
    // discards the events still queued; always true. Any thread, any number of times, also
    // with accessMutex held: a collector waiting for the lock gives up once it is told to stop.
    bool stopMonitor();

    // --- build and scan ----------------------------------------------------------------------

    // Records root and its missing ancestors, then scans root (see cachescan.cpp). The scan's
    // result, or 0 when root was not scanned.
    int build(const MonitoredPath& root, RecordSet& directoriesRecordSet,
              uint32_t& directoriesIndex, RecordSet& filesRecordSet, RecordSet& parentRecordSet,
              const MonitoredPathList& includeList, const MonitoredPathList& excludeList,
              bool caseSensitive, int32_t timeout);
    // The build of the monitor's start: the cache's own record sets and counter, nothing
    // included or excluded, the full budget.
    int build(const MonitoredPath& root);
    // Records the entries below directory, whose record has id: SCAN_OK, SCAN_ERROR or
    // SCAN_TIMEOUT.
    int scan(const MonitoredPath& directory, RecordSet& directoriesRecordSet,
             uint32_t& directoriesIndex, RecordSet& filesRecordSet, uint32_t id,
             const MonitoredPathList& includeList, const MonitoredPathList& excludeList,
             bool caseSensitive, int32_t timeout);

    // Directories and files recorded by the last build or scan so far.
    struct ScanCounts {
        uint64_t directories = 0;
        uint64_t files = 0;
    };
    ScanCounts lastScanCounts() const { return counts; }

    // --- lookups and removal -----------------------------------------------------------------

    // Finds the record of the directory path; directoriesRecordSet is then positioned on it.
    bool findDirectory(RecordSet& directoriesRecordSet, RecordSet& parentRecordSet,
                       const wchar_t* path, bool caseSensitive);
    // Finds the record of the file name in the directory with directoryId; filesRecordSet is
    // then positioned on it.
    bool findFile(RecordSet& filesRecordSet, uint32_t directoryId, const wchar_t* name,
                  bool caseSensitive);
    // Finds the record of the directory called name whose parent is parentId;
    // directoriesRecords() is then positioned on it.
    bool findChildDirectory(uint32_t parentId, const wchar_t* name, bool caseSensitive);
    // Removes every file record of directory id.
    void removeFiles(Table* files, uint32_t id);
    // Removes everything below directory id and keeps its own record.
    void removeChildren(Table* directories, Table* files, uint32_t id);
    // Removes directory id with everything below it, depth first.
    void removeTree(Table* directories, Table* files, uint32_t id);

    // --- state ---------------------------------------------------------------------------------

    // Null before create and after closeCache.
    Table* directoriesTable() const { return tbDirectories.get(); }
    Table* filesTable() const { return tbFiles.get(); }
    // The record sets kept open on the tables (empty handles before create).
    RecordSet& directoriesRecords() { return directoriesRecordSet; }
    RecordSet& parentRecords() { return parentRecordSet; }
    RecordSet& filesRecords() { return filesRecordSet; }
    // The last directory id issued.
    uint32_t& directoriesCounter() { return directoriesIndex; }
    const std::wstring& accessMutexName() const { return mutexName; }

  private:
    friend class EventCollector;
    class Scanner;

    bool initialise(const wchar_t* directoriesTableName, const wchar_t* filesTableName,
                    const wchar_t* workingDirectory);
    bool createVariables();
    bool createCriteria();
    // Path of the directories table name + suffix in the cache directory.
    std::wstring markerPath(const wchar_t* suffix) const;
    // Opens the three record sets and clears the corruption flag after tables were made ready.
    void tablesReady();

    // Sets the key hint of criteria to field == value.
    void hintNumber(CriteriaEvaluator& criteria, const wchar_t* field, uint32_t value);
    void hintText(CriteriaEvaluator& criteria, const wchar_t* field, const wchar_t* text);
    // Selects the records with ID id on records.
    bool selectId(RecordSet& records, uint32_t id);
    // Appends the directory record (id, name, short name, parent, time) through records.
    bool addDirectoryRecord(RecordSet& records, uint32_t id, const wchar_t* name,
                            const wchar_t* shortName, uint32_t parentId, uint32_t time);
    // The children of parentId on the directory records that are called name; see
    // cachelookup.cpp. firstOnly stops at the first one and answers the record set that stands
    // on it.
    RecordSet* matchChildren(RecordSet& byName, RecordSet& byParent, uint32_t parentId,
                             const std::wstring& name, bool caseSensitive, bool firstOnly,
                             std::vector<uint32_t>& found);
    void logProgress(bool force);

    // The part of startMonitor under accessMutex: tables, monitor, builds, counter.
    bool buildLocked();
    // Stops the collector and the monitor; monitorControl is held.
    void stopMonitorLocked();

    // Serialises startMonitor and stopMonitor, which the main thread and a console control
    // handler may call at once. Taken before accessMutex, never after it.
    std::recursive_mutex monitorControl;
    std::unique_ptr<EventCollector> collector;
    std::unique_ptr<Thread> collectorThread;
    bool collectorRunning = false;
    // Not owned.
    ChangeMonitor* monitor = nullptr;
    std::unique_ptr<EventQueue> eventQueue;
    MonitoredPathList monitoredRoots;

    std::unique_ptr<SyncObject> accessMutex;

    std::unique_ptr<Table> tbFiles;
    RecordSet filesRecordSet;
    std::wstring filesTableName;

    uint32_t directoriesIndex = 0;

    std::unique_ptr<Table> tbDirectories;
    RecordSet directoriesRecordSet;
    RecordSet parentRecordSet;
    std::wstring directoriesTableName;

    std::wstring cachePathName;
    std::wstring mutexName;

    bool cacheInitialized = false;
    bool cacheOpened = false;
    bool cacheCorrupted = false;
    bool monitorEnabled = false;
    bool compactTables = false;
    bool cacheCheckerEnabled = false;

    FieldList defaultVariables;
    UInt32Field* varId = nullptr;
    UInt32Field* varPathId = nullptr;
    UInt32Field* varParentId = nullptr;
    StringField* varPathName = nullptr;
    StringField* varShortPathName = nullptr;
    StringField* varFileName = nullptr;
    StringField* varShortFileName = nullptr;
    StringField* varMd5 = nullptr;
    UInt32Field* varCrc32 = nullptr;
    UInt32Field* varQ32 = nullptr;

    std::unique_ptr<CriteriaEvaluator> critPathId;
    std::unique_ptr<CriteriaEvaluator> critParentId;
    std::unique_ptr<CriteriaEvaluator> critId;
    std::unique_ptr<CriteriaEvaluator> critAnyPathName;
    std::unique_ptr<CriteriaEvaluator> critPathName;
    std::unique_ptr<CriteriaEvaluator> critAnyFileName;
    std::unique_ptr<CriteriaEvaluator> critFileName;
    SyntaxValue indexKey;

    RkLogWrapper* log;

    std::wstring exclusionHashPath;

    CacheSettings settings;
    bool digestsEnabled = false;

    std::atomic<bool> stopRequest{false};
    ScanCounts counts;
    // Tick of the start of the last build or scan, and of its last progress line.
    uint32_t progressStart = 0;
    uint32_t progressLast = 0;
};
