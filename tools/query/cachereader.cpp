#include "cachereader.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "system/platform.h"
#include "text/pathhelper.h"
#include "text/utf8.h"

namespace {

std::string quote(const std::wstring& text) {
    return "'" + utf8::fromWide(text) + "'";
}

bool exists(const std::wstring& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(path), ec);
}

// A record set on table for the length of one walk.
class TemporaryRecords {
  public:
    explicit TemporaryRecords(Table& table) : table_(table), records_(table.openRecordSet()) {}
    ~TemporaryRecords() { table_.closeRecordSet(records_); }
    TemporaryRecords(const TemporaryRecords&) = delete;
    TemporaryRecords& operator=(const TemporaryRecords&) = delete;
    RecordSet& operator*() { return records_; }

  private:
    Table& table_;
    RecordSet records_;
};

}  // namespace

std::string utf8Field(RecordSet& record, const wchar_t* field) {
    const wchar_t* text = record.getString(field);
    return text != nullptr ? utf8::fromWide(text) : std::string();
}

std::string joinUtf8(const std::string& directory, const std::string& name) {
    if (directory.empty() || directory.back() == platform::kPathSeparatorNarrow)
        return directory + name;
    return directory + platform::kPathSeparatorNarrow + name;
}

CacheReader::CacheReader(const std::wstring& workingDirectory, const std::wstring& directoriesTable,
                         const std::wstring& filesTable)
    : directoriesName_(directoriesTable),
      filesName_(filesTable),
      cachePath_(PathHelper::realPath(workingDirectory.c_str()).value_or(workingDirectory)),
      cache_(directoriesTable.c_str(), filesTable.c_str(), workingDirectory.c_str(), false, false,
             false, nullptr),
      critId_(cacheschema::kCritId),
      critParentId_(cacheschema::kCritParentId),
      critPathId_(cacheschema::kCritPathId) {
    for (const cacheschema::FieldDef& variable : cacheschema::kVariables)
        variables_.addField(variable.name, variable.type);
    id_ = static_cast<UInt32Field*>(variables_.findField(cacheschema::kVariables[0].name));
    pathId_ = static_cast<UInt32Field*>(variables_.findField(cacheschema::kVariables[1].name));
    parentId_ = static_cast<UInt32Field*>(variables_.findField(cacheschema::kVariables[2].name));
    for (CriteriaEvaluator* criteria : {&critId_, &critParentId_, &critPathId_})
        criteria->setVariables(&variables_);
}

CacheReader::~CacheReader() {
    close();
}

void CacheReader::close() {
    // The tables close before the monitor may go on.
    directories_.reset();
    files_.reset();
    if (locked_)
        lock_->release();
    locked_ = false;
}

template <size_t F>
bool CacheReader::openTable(std::unique_ptr<Table>& slot, const std::wstring& name,
                            const cacheschema::FieldDef (&fields)[F], const char* kind,
                            std::string& reason) {
    slot = std::make_unique<Table>(name.c_str(), cachePath_.c_str(), false);
    if (!slot->open(true)) {
        slot.reset();
        if (!exists(PathHelper::joinPath(cachePath_, name + L".dat")))
            reason = "no cache: no table " + quote(name) + " in " + quote(cachePath_);
        else
            reason = "damaged cache: table " + quote(name) + " cannot be read";
        return false;
    }
    for (const cacheschema::FieldDef& field : fields) {
        const Field* found = slot->schema().findField(field.name);
        if (found == nullptr || found->type() != field.type) {
            reason = "table " + quote(name) + " is not a cache's " + kind + " table (no field " +
                     utf8::fromWide(field.name) + ")";
            slot.reset();
            return false;
        }
    }
    return true;
}

CacheReader::Opened CacheReader::open(unsigned waitMs, std::string& reason) {
    std::error_code ec;
    if (!cache_.isInitialized() || !std::filesystem::is_directory(cachePath_, ec)) {
        reason = "no cache: " + quote(cachePath_) + " is not a directory";
        return Opened::Unusable;
    }
    lock_ = createMutex(cache_.accessMutexName().c_str());
    const int waited = lock_->waitTimeout(waitMs);
    if (waited == SYNC_TIMEOUT) {
        reason =
            "cache busy: the monitor has held it for more than " + std::to_string(waitMs) + " ms";
        return Opened::Busy;
    }
    if (waited != 0) {
        reason = "cannot take the cache's lock " + quote(cache_.accessMutexName());
        return Opened::Unusable;
    }
    locked_ = true;
    if (!openTable(directories_, directoriesName_, cacheschema::kDirectoryFields, "directories",
                   reason) ||
        !openTable(files_, filesName_, cacheschema::kFileFields, "files", reason)) {
        return Opened::Unusable;
    }
    byName_ = directories_->openRecordSet();
    byParent_ = directories_->openRecordSet();
    lookup_ = directories_->openRecordSet();
    return Opened::Ready;
}

std::vector<std::wstring> CacheReader::cacheFiles() const {
    std::vector<std::wstring> paths = directories_->filePaths();
    for (std::wstring& path : files_->filePaths())
        paths.push_back(std::move(path));
    const std::wstring counter =
        PathHelper::joinPath(cachePath_, directoriesName_ + cacheschema::kCounterSuffix);
    if (exists(counter))
        paths.push_back(counter);
    return paths;
}

void CacheReader::noteDamage(std::string what) {
    if (damage_.empty())
        damage_ = "damaged cache: " + std::move(what);
}

void CacheReader::selectNumber(RecordSet& records, CriteriaEvaluator& criteria,
                               UInt32Field* variable, const wchar_t* field, uint32_t value) {
    variable->setValue(value);
    hint_.setName(field);
    hint_.type = SyntaxValue::NUMERIC;
    hint_.number = value;
    hint_.setText(nullptr);
    criteria.setKeyHint(hint_);
    records.select(&criteria, true);
}

void CacheReader::walk(RecordSet& records, Table& table,
                       const std::function<void(RecordSet&)>& visit) {
    for (bool more = records.moveFirst(); more; more = records.moveNext())
        visit(records);
    if (records.endedOnDamage())
        noteDamage("a record of table " + quote(table.name()) + " cannot be read");
}

std::optional<uint32_t> CacheReader::findDirectory(const std::wstring& path) {
    if (!cache_.findDirectory(byName_, byParent_, path.c_str(), false)) {
        if (byName_.endedOnDamage() || byParent_.endedOnDamage())
            noteDamage("a record of table " + quote(directoriesName_) + " cannot be read");
        return std::nullopt;
    }
    return byName_.getUInt32(cacheschema::kId);
}

void CacheReader::loadDirectories() {
    allLoaded_ = true;
    loaded_.reserve(directories_->numberEnd());
    forEach(*directories_, nullptr, true, [this](RecordSet& record) {
        loaded_.insert_or_assign(record.getUInt32(cacheschema::kId),
                                 Directory{utf8Field(record, cacheschema::kPathName),
                                           record.getUInt32(cacheschema::kParentId)});
    });
}

bool CacheReader::directoryRecord(uint32_t id, std::string& name, uint32_t& parent) {
    // Index look-ups cost a bucket walk each: past this many, one walk of the table is cheaper.
    constexpr uint32_t kLookupsBeforeLoading = 256;
    if (!allLoaded_ && ++indexLookups_ > kLookupsBeforeLoading)
        loadDirectories();
    if (allLoaded_) {
        auto found = loaded_.find(id);
        if (found == loaded_.end()) {
            noteDamage("directory record " + std::to_string(id) + " is missing");
            return false;
        }
        name = found->second.name;
        parent = found->second.parent;
        return true;
    }
    selectNumber(lookup_, critId_, id_, cacheschema::kId, id);
    if (!lookup_.moveFirst()) {
        noteDamage(lookup_.endedOnDamage()
                       ? "a record of table " + quote(directoriesName_) + " cannot be read"
                       : "directory record " + std::to_string(id) + " is missing");
        return false;
    }
    name = utf8Field(lookup_, cacheschema::kPathName);
    parent = lookup_.getUInt32(cacheschema::kParentId);
    return true;
}

const std::string* CacheReader::directoryPath(uint32_t id) {
    if (auto known = paths_.find(id); known != paths_.end())
        return &known->second;
    // Up to the first directory whose path is known, or to a root; a path has fewer levels than
    // characters.
    struct Level {
        uint32_t id;
        std::string name;
    };
    std::vector<Level> chain;
    const std::string* base = nullptr;
    for (uint32_t at = id;;) {
        if (chain.size() >= platform::kMaxPath) {
            noteDamage("the parents of directory " + std::to_string(id) + " form a loop");
            return nullptr;
        }
        Level level{at, {}};
        uint32_t parent = 0;
        if (!directoryRecord(at, level.name, parent))
            return nullptr;
        chain.push_back(std::move(level));
        if (parent == 0)
            break;
        if (auto known = paths_.find(parent); known != paths_.end()) {
            base = &known->second;
            break;
        }
        at = parent;
    }
    for (auto level = chain.rbegin(); level != chain.rend(); ++level) {
        std::string path = base ? joinUtf8(*base, level->name) : level->name;
        base = &paths_.insert_or_assign(level->id, std::move(path)).first->second;
    }
    return base;
}

void CacheReader::forChildDirectories(uint32_t id, const std::function<void(RecordSet&)>& visit) {
    TemporaryRecords records(*directories_);
    selectNumber(*records, critParentId_, parentId_, cacheschema::kParentId, id);
    walk(*records, *directories_, visit);
}

void CacheReader::forFiles(uint32_t id, const std::function<void(RecordSet&)>& visit) {
    TemporaryRecords records(*files_);
    selectNumber(*records, critPathId_, pathId_, cacheschema::kPathId, id);
    walk(*records, *files_, visit);
}

void CacheReader::forEach(Table& table, CriteriaEvaluator* criteria, bool caseSensitive,
                          const std::function<void(RecordSet&)>& visit) {
    TemporaryRecords records(table);
    (*records).select(criteria, caseSensitive);
    walk(*records, table, visit);
}

std::unordered_set<uint32_t> CacheReader::subtree(uint32_t id) {
    std::unordered_set<uint32_t> ids{id};
    std::vector<uint32_t> queue{id};
    for (size_t next = 0; next < queue.size(); ++next) {
        forChildDirectories(queue[next], [&](RecordSet& child) {
            const uint32_t childId = child.getUInt32(cacheschema::kId);
            if (ids.insert(childId).second)
                queue.push_back(childId);
        });
    }
    return ids;
}
