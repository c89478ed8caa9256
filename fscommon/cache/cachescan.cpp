// build and scan: filling the tables from the disk.
//
// The scan walks depth first with the listing of every directory on the way down still open, as
// a recursive walk would, but the open listings live in a stack on the heap: a tree as deep as
// the path limit allows needs no deeper call stack than a flat one. Per entry nothing is kept
// beyond the record written; one path buffer grows and shrinks with the walk.
#include <climits>
#include <string>
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

constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorSharingViolation = 32;
// A busy listing is tried again while the attempt number stays below this, after this pause.
constexpr int kMaxAttempts = 32;
constexpr unsigned kBusyPauseMs = 2000;
// Progress is reported at most this often, checked every kProgressStride entries.
constexpr uint32_t kProgressIntervalMs = 1000;
constexpr uint32_t kProgressStride = 256;

uint32_t now32() {
    return static_cast<uint32_t>(currentTime());
}

// What is left of budget milliseconds given at tick start.
int32_t remaining(int32_t budget, uint32_t start) {
    const int64_t left = static_cast<int64_t>(budget) - (sysinfo::tickCount() - start);
    return static_cast<int32_t>(left < INT32_MIN ? INT32_MIN : left);
}

}  // namespace

// One scan: the record sets and lists it writes through and the stack of open directories.
class FS_Cache::Scanner {
  public:
    Scanner(FS_Cache& cache, RecordSet& directories, uint32_t& directoriesIndex, RecordSet& files,
            const MonitoredPathList& includeList, const MonitoredPathList& excludeList,
            bool caseSensitive, bool recursive)
        : cache_(cache),
          directories_(directories),
          directoriesIndex_(directoriesIndex),
          files_(files),
          includeList_(includeList),
          excludeList_(excludeList),
          caseSensitive_(platform::nameCaseSensitive(caseSensitive)),
          recursive_(recursive) {}

    int run(const std::wstring& directory, uint32_t id, int32_t budget);

  private:
    struct Frame {
        listing::DirectoryListing listing;
        uint32_t id = 0;
        // Length of the directory's path with its separator in path_.
        size_t prefixLength = 0;
        uint32_t start = 0;
        int32_t budget = 0;
        bool recordFiles = true;
        int result = SCAN_OK;
    };
    enum class Entered { Yes, No };

    // Enters the directory whose path is in path_ (budget and stop request, path limit, listing
    // opened with retries, whose files are recorded): on Yes its frame is pushed, on No result
    // holds the directory's result.
    Entered enter(uint32_t id, int32_t budget, int& result);
    uint32_t openListing(listing::DirectoryListing& listing, uint32_t start, int32_t budget,
                         const std::wstring& pattern, int& result);
    // The next entry of the top frame, busy listings retried; sets the frame's result when the
    // enumeration must end.
    bool nextEntry(Frame& frame);
    void directoryEntry(Frame& frame);
    void fileEntry(const Frame& frame);
    void finish();
    std::wstring pattern(size_t prefixLength) const;
    void tick();

    FS_Cache& cache_;
    RecordSet& directories_;
    uint32_t& directoriesIndex_;
    RecordSet& files_;
    const MonitoredPathList& includeList_;
    const MonitoredPathList& excludeList_;
    const bool caseSensitive_;
    const bool recursive_;

    std::vector<Frame> stack_;
    std::wstring path_;
    listing::ListingEntry entry_;
    uint32_t sinceProgress_ = 0;
};

std::wstring FS_Cache::Scanner::pattern(size_t prefixLength) const {
    std::wstring text = path_.substr(0, prefixLength);
    text.resize(prefixLength, platform::kPathSeparator);
    return text + L'*';
}

void FS_Cache::Scanner::tick() {
    if (++sinceProgress_ >= kProgressStride) {
        sinceProgress_ = 0;
        cache_.logProgress(false);
    }
}

uint32_t FS_Cache::Scanner::openListing(listing::DirectoryListing& listing, uint32_t start,
                                        int32_t budget, const std::wstring& shown, int& result) {
    RkLogWrapper* log = cache_.log;
    const size_t nameStart = stack_.empty() ? 0 : stack_.back().prefixLength;
    const std::wstring_view path = std::wstring_view(path_);
    int attempt = 1;
    for (;;) {
        const uint32_t error =
            stack_.empty() ? listing.open(path)
                           : listing.openChild(stack_.back().listing, path.substr(nameStart), path);
        if (error != kErrorSharingViolation)
            return error;
        ++attempt;
        LOG_TRACE_AS(log, "scan",
                     "FS_Cache::scan - (FindFirstFile) get ERROR_SHARING_VIOLATION: %d attempt on "
                     "'%S'. sleeping...\n",
                     attempt, shown.c_str());
        sleepMs(kBusyPauseMs);
        if (remaining(budget, start) <= 0 || cache_.stopRequested()) {
            LOG_TRACE_AS(log, "scan", "FS_Cache::scan - (FindFirstFile) scan timed out!\n");
            result = SCAN_TIMEOUT;
            return error;
        }
        if (attempt >= kMaxAttempts)
            return error;
    }
}

FS_Cache::Scanner::Entered FS_Cache::Scanner::enter(uint32_t id, int32_t budget, int& result) {
    RkLogWrapper* log = cache_.log;
    result = SCAN_OK;
    if (budget <= 0 || cache_.stopRequested()) {
        result = SCAN_TIMEOUT;
        return Entered::No;
    }
    if (path_.size() + 2 >= platform::kMaxPath) {
        LOG_TRACE_AS(log, "scan", "FS_Cache::scan - path too long\n");
        return Entered::No;
    }
    const size_t length = path_.size();
    const bool hasSeparator = !path_.empty() && path_.back() == platform::kPathSeparator;
    Frame frame;
    frame.id = id;
    frame.budget = budget;
    frame.prefixLength = hasSeparator ? length : length + 1;
    const std::wstring shown = pattern(frame.prefixLength);

    // Included and excluded are decided on the directory's path as given.
    frame.recordFiles = (includeList_.empty() ||
                         matchPathList(path_.c_str(), includeList_, caseSensitive_, false)) &&
                        !(!excludeList_.empty() &&
                          matchPathList(path_.c_str(), excludeList_, caseSensitive_, false));

    const uint32_t start = sysinfo::tickCount();
    const uint32_t error = openListing(frame.listing, start, budget, shown, result);
    if (result != SCAN_OK)
        return Entered::No;
    if (error != 0) {
        if (error != kErrorSharingViolation) {
            LOG_TRACE_AS(log, "scan",
                         "FS_Cache::scan - (FindFirstFile) invalid file handle. Error %u opening "
                         "'%S' path\n",
                         error, shown.c_str());
        }
        return Entered::No;
    }
    frame.start = sysinfo::tickCount();
    if (!hasSeparator)
        path_ += platform::kPathSeparator;
    stack_.push_back(std::move(frame));
    return Entered::Yes;
}

bool FS_Cache::Scanner::nextEntry(Frame& frame) {
    RkLogWrapper* log = cache_.log;
    for (int attempt = 1;;) {
        const uint32_t error = frame.listing.next(entry_);
        if (error == 0)
            return true;
        if (error == kErrorNoMoreFiles)
            return false;
        if (error != kErrorSharingViolation) {
            const std::wstring shown = pattern(frame.prefixLength);
            LOG_TRACE_AS(log, "scan",
                         "FS_Cache::scan - (FindNextFile) error %u opening '%S' path\n", error,
                         shown.c_str());
            frame.result = SCAN_ERROR;
            return false;
        }
        ++attempt;
        const std::wstring shown = pattern(frame.prefixLength);
        LOG_TRACE_AS(log, "scan",
                     "FS_Cache::scan - (FindNextFile) get ERROR_SHARING_VIOLATION: %d attempt on "
                     "'%S'. sleeping...\n",
                     attempt, shown.c_str());
        sleepMs(kBusyPauseMs);
        if (remaining(frame.budget, frame.start) <= 0 || cache_.stopRequested()) {
            LOG_TRACE_AS(log, "scan", "FS_Cache::scan - (FindNextFile) scan timed out!\n");
            frame.result = SCAN_TIMEOUT;
            return false;
        }
        if (attempt >= kMaxAttempts)
            return false;
    }
}

void FS_Cache::Scanner::directoryEntry(Frame& frame) {
    RkLogWrapper* log = cache_.log;
    if (entry_.isDotEntry() || entry_.isReparsePoint() || !recursive_)
        return;
    if (frame.prefixLength + entry_.name.size() >= platform::kMaxPath) {
        LOG_TRACE_AS(log, "scan", "FS_Cache::scan - path too long!\n");
        return;
    }
    path_.resize(frame.prefixLength);
    path_ += entry_.name;
    if (!excludeList_.empty() && matchPathList(path_.c_str(), excludeList_, caseSensitive_, true)) {
        LOG_TRACE_AS(log, "scan", "FS_Cache::scan - path '%S' excluded!\n", path_.c_str());
        return;
    }
    // Without its own record nothing below the directory could be attached to it.
    if (directoriesIndex_ == cacheschema::kLastDirectoryId ||
        !cache_.addDirectoryRecord(directories_, directoriesIndex_ + 1, entry_.name.c_str(),
                                   entry_.shortName.c_str(), frame.id, now32())) {
        LOG_TRACE_AS(log, "scan", "FS_Cache::scan - unable to record directory '%S'!\n",
                     path_.c_str());
        return;
    }
    ++directoriesIndex_;
    ++cache_.counts.directories;
    tick();
    int result = SCAN_OK;
    const int32_t budget = remaining(frame.budget, frame.start);
    // frame stays valid only until the push below.
    const size_t depth = stack_.size();
    if (enter(directoriesIndex_, budget, result) == Entered::No && result != SCAN_OK)
        stack_[depth - 1].result = result;
}

void FS_Cache::Scanner::fileEntry(const Frame& frame) {
    if (!frame.recordFiles)
        return;
    RecordSet& files = files_;
    files.setString(cacheschema::kFileName, entry_.name.c_str());
    files.setString(cacheschema::kShortFileName, entry_.shortName.c_str());
    files.setUInt64(cacheschema::kSize, entry_.size());
    files.setUInt32(cacheschema::kAttr, modeWord(entry_));
    files.setUInt32(cacheschema::kPathId, frame.id);
    FileDigests digests;
    bool digested = false;
    if (cache_.digestsEnabled) {
        path_.resize(frame.prefixLength);
        path_ += entry_.name;
        digests.flags = DIGEST_ALL;
        std::string narrow;
        // A file that cannot be read keeps the values of no digest.
        digested =
            toCodePagePath(path_, narrow) && computeFileDigests(digests, narrow.c_str()) == 0;
    }
    files.setString(cacheschema::kMd5,
                    digested ? md5ToHex(digests.md5).c_str() : cacheschema::kNoDigest);
    files.setUInt32(cacheschema::kCrc32, digested ? digests.crc32 : 0);
    files.setUInt32(cacheschema::kQ32, digested ? digests.q32 : 0);
    if (files.addRecord())
        ++cache_.counts.files;
    tick();
}

void FS_Cache::Scanner::finish() {
    Frame& frame = stack_.back();
    frame.listing.close();
    const int result = frame.result;
    LOG_EXIT(cache_.log, "FS_Cache::build - scan. [retValue is %d]\n", result);
    stack_.pop_back();
    if (!stack_.empty()) {
        path_.resize(stack_.back().prefixLength);
        if (result != SCAN_OK)
            stack_.back().result = result;
    }
}

int FS_Cache::Scanner::run(const std::wstring& directory, uint32_t id, int32_t budget) {
    path_ = directory;
    int result = SCAN_OK;
    if (enter(id, budget, result) == Entered::No)
        return result;
    for (;;) {
        Frame& frame = stack_.back();
        if (frame.result == SCAN_OK && nextEntry(frame)) {
            if (entry_.isDirectory())
                directoryEntry(frame);
            else
                fileEntry(frame);
            continue;
        }
        result = frame.result;
        finish();
        if (stack_.empty())
            return result;
    }
}

int FS_Cache::scan(const MonitoredPath& directory, RecordSet& directoriesRecordSet,
                   uint32_t& directoriesIndex, RecordSet& filesRecordSet, uint32_t id,
                   const MonitoredPathList& includeList, const MonitoredPathList& excludeList,
                   bool caseSensitive, int32_t timeout) {
    if (!directory.path)
        return SCAN_OK;
    // A directory that has become a link or a junction by the time it is scanned (an added
    // entry, say) is not followed out of the tree; one that cannot be looked up goes on to the
    // listing, which reports it.
    listing::ListingEntry entry;
    if (listing::lookupEntry(*directory.path, entry) == 0 &&
        (!entry.isDirectory() || entry.isReparsePoint())) {
        LOG_TRACE(log, "FS_Cache::scan - '%S' is a symbolic link or is not a directory!\n",
                  directory.text());
        return SCAN_OK;
    }
    counts = {};
    progressStart = progressLast = sysinfo::tickCount();
    Scanner scanner(*this, directoriesRecordSet, directoriesIndex, filesRecordSet, includeList,
                    excludeList, caseSensitive, directory.recursive != 0);
    const int result = scanner.run(*directory.path, id, timeout);
    logProgress(true);
    return result;
}

bool FS_Cache::addDirectoryRecord(RecordSet& records, uint32_t id, const wchar_t* name,
                                  const wchar_t* shortName, uint32_t parentId, uint32_t time) {
    records.setUInt32(cacheschema::kId, id);
    records.setString(cacheschema::kPathName, name);
    records.setString(cacheschema::kShortPathName, shortName);
    records.setUInt32(cacheschema::kParentId, parentId);
    records.setUInt32(cacheschema::kCreationTime, time);
    return records.addRecord();
}

void FS_Cache::logProgress(bool force) {
    const uint32_t now = sysinfo::tickCount();
    if (!force && now - progressLast < kProgressIntervalMs)
        return;
    // A short scan says nothing.
    if (force && now - progressStart < kProgressIntervalMs)
        return;
    progressLast = now;
    LOG_TRACE_AS(log, "scan",
                 "FS_Cache::scan - progress: %llu directories and %llu files recorded in %u ms\n",
                 static_cast<unsigned long long>(counts.directories),
                 static_cast<unsigned long long>(counts.files), now - progressStart);
}

int FS_Cache::build(const MonitoredPath& root, RecordSet& directoriesRecordSet,
                    uint32_t& directoriesIndex, RecordSet& filesRecordSet,
                    RecordSet& parentRecordSet, const MonitoredPathList& includeList,
                    const MonitoredPathList& excludeList, bool caseSensitive, int32_t timeout) {
    int result = 0;
    counts = {};
    MonitoredPathList ancestors;
    MonitoredPathList names;
    PathHelper::splitPath(root, ancestors, names);
    // The nearest ancestor on record, then the missing ones from the top down.
    size_t missing = 0;
    uint32_t parentId = 0;
    while (missing < ancestors.size() && !findDirectory(directoriesRecordSet, parentRecordSet,
                                                        ancestors[missing].text(), caseSensitive)) {
        ++missing;
    }
    if (missing < ancestors.size())
        parentId = directoriesRecordSet.getUInt32(cacheschema::kId);
    bool recorded = true;
    while (missing > 0 && recorded) {
        --missing;
        recorded = directoriesIndex != cacheschema::kLastDirectoryId &&
                   addDirectoryRecord(directoriesRecordSet, directoriesIndex + 1,
                                      names[missing].text(), L"", parentId, 0);
        if (recorded)
            parentId = ++directoriesIndex;
    }
    if (recorded && root.path &&
        findDirectory(directoriesRecordSet, parentRecordSet, root.text(), caseSensitive)) {
        const uint32_t rootId = directoriesRecordSet.getUInt32(cacheschema::kId);
        directoriesRecordSet.setUInt32(cacheschema::kCreationTime, now32());
        directoriesRecordSet.updateRecord();
        const bool namesCaseSensitive = platform::nameCaseSensitive(caseSensitive);
        if (!excludeList.empty() &&
            matchPathList(root.text(), excludeList, namesCaseSensitive, root.recursive != 0)) {
            LOG_TRACE(log, "FS_Cache::build - path '%S' excluded!\n", root.text());
        } else if (fs_isValidPath(root.text())) {
            result = scan(root, directoriesRecordSet, directoriesIndex, filesRecordSet, rootId,
                          includeList, excludeList, caseSensitive, timeout);
        } else {
            LOG_TRACE(log, "FS_Cache::build - '%S' is a symbolic link or is not a directory!\n",
                      root.text());
        }
    }
    LOG_EXIT(log, "FS_Cache::build - exit. [retValue is %d]\n", result);
    return result;
}

int FS_Cache::build(const MonitoredPath& root) {
    return build(root, directoriesRecordSet, directoriesIndex, filesRecordSet, parentRecordSet, {},
                 {}, false, kScanBudgetMs);
}
