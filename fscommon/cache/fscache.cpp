// Construction, creation and opening of the tables, locking and tear-down.
#include "cache/fscache.h"

#include <optional>

#include "cache/cacheschema.h"
#include "cache/eventcollector.h"
#include "cache/eventqueue.h"
#include "system/platform.h"
#include "text/pathhelper.h"

namespace {

constexpr char kLogModule[] = "fscommon/cache";

// The mutex name of a cache directory: separators and colons become "_".
std::wstring mutexNameOf(const std::wstring& cachePath) {
    std::wstring name = cachePath + cacheschema::kMutexSuffix;
    for (wchar_t& c : name) {
        if (c == platform::kPathSeparator || c == L':')
            c = L'_';
    }
    return name;
}

// Makes table name in directory with fields and then, once it exists, their indexes (an index
// that cannot be made leaves lookups to walk the table; the cache still works). Null when the
// table could not be created.
template <size_t F, size_t I>
std::unique_ptr<Table> makeTable(const wchar_t* name, const std::wstring& directory, bool compact,
                                 const cacheschema::FieldDef (&fields)[F],
                                 const wchar_t* const (&indexes)[I]) {
    auto table = std::make_unique<Table>(name, directory.c_str(), compact);
    for (const cacheschema::FieldDef& field : fields) {
        if (!table->addField(field.name, field.type))
            return nullptr;
    }
    if (!table->create())
        return nullptr;
    for (const wchar_t* field : indexes)
        table->createIndex((std::wstring(name) + L"_" + field).c_str(), field);
    return table;
}

}  // namespace

FS_Cache::FS_Cache(const wchar_t* directoriesTableName, const wchar_t* filesTableName,
                   const wchar_t* workingDirectory, bool monitorEnabled, bool compactTables,
                   bool cacheCheckerEnabled, const CacheSettings* settings)
    : monitorEnabled(monitorEnabled),
      compactTables(compactTables),
      cacheCheckerEnabled(cacheCheckerEnabled),
      log(getRkLogFs()) {
    if (settings != nullptr)
        this->settings = *settings;
    digestsEnabled = (this->settings.collectFlags & kCollectDigestFlags) != 0;
    cacheInitialized = initialise(directoriesTableName, filesTableName, workingDirectory);
}

bool FS_Cache::initialise(const wchar_t* directoriesTableName, const wchar_t* filesTableName,
                          const wchar_t* workingDirectory) {
    if (directoriesTableName == nullptr || filesTableName == nullptr ||
        workingDirectory == nullptr) {
        return false;
    }
    this->directoriesTableName = directoriesTableName;
    this->filesTableName = filesTableName;

    std::optional<std::wstring> real = PathHelper::realPath(workingDirectory);
    if (!real) {
        LOG_TRACE_AS(log, "FS_Cache",
                     "FS_Cache::FS_Cache - cachePathName name is NULL, pathHelper.realPath() "
                     "failed!\n");
        return false;
    }
    cachePathName = std::move(*real);
    exclusionHashPath = PathHelper::joinPath(cachePathName, cacheschema::kExclusionHashFile);
    mutexName = mutexNameOf(cachePathName);
    LOG_TRACE_AS(log, "FS_Cache", "FS_Cache::FS_Cache - accessMutex name is '%ls'\n",
                 mutexName.c_str());

    accessMutex = createMutex(mutexName.c_str());
    if (!accessMutex) {
        LOG_TRACE_AS(log, "FS_Cache", "FS_Cache::FS_Cache - accessMutex name is NULL\n");
        return false;
    }
    if (!createVariables()) {
        LOG_TRACE_AS(log, "FS_Cache", "FS_Cache::FS_Cache - defaultVariables error!\n");
        return false;
    }
    if (!createCriteria()) {
        LOG_TRACE_AS(log, "FS_Cache", "FS_Cache::FS_Cache - criteriaEvaluator creation error!\n");
        return false;
    }
    return true;
}

bool FS_Cache::createVariables() {
    for (const cacheschema::FieldDef& variable : cacheschema::kVariables)
        defaultVariables.addField(variable.name, variable.type);
    auto find = [&]<typename T>(T*& slot, const cacheschema::FieldDef& def) {
        slot = static_cast<T*>(defaultVariables.findField(def.name));
        return slot != nullptr;
    };
    const auto& v = cacheschema::kVariables;
    const bool used = find(varId, v[0]) && find(varPathId, v[1]) && find(varParentId, v[2]) &&
                      find(varPathName, v[3]) && find(varShortPathName, v[4]) &&
                      find(varFileName, v[5]) && find(varShortFileName, v[6]);
    // The last three are defined for the criteria's users; no criterion reads them.
    find(varMd5, v[7]);
    find(varCrc32, v[8]);
    find(varQ32, v[9]);
    return used;
}

bool FS_Cache::createCriteria() {
    std::unique_ptr<CriteriaEvaluator>* slots[] = {
        &critPathId,   &critParentId,    &critId,      &critAnyPathName,
        &critPathName, &critAnyFileName, &critFileName};
    const wchar_t* texts[] = {cacheschema::kCritPathId,   cacheschema::kCritParentId,
                              cacheschema::kCritId,       cacheschema::kCritAnyPathName,
                              cacheschema::kCritPathName, cacheschema::kCritAnyFileName,
                              cacheschema::kCritFileName};
    for (size_t i = 0; i < std::size(slots); ++i) {
        *slots[i] = std::make_unique<CriteriaEvaluator>(texts[i]);
        if (!(*slots[i])->isValid())
            return false;
    }
    for (auto* slot : slots)
        (*slot)->setVariables(&defaultVariables);
    return true;
}

FS_Cache::~FS_Cache() {
    // The collector's thread must be gone before what it works on.
    stopMonitor();
    // Tables close themselves (ending their record sets) before the criteria go.
    tbFiles.reset();
    tbDirectories.reset();
}

int32_t FS_Cache::create(int32_t timeout, int32_t creationDisposition) {
    LOG_ENTRY(log, "FS_Cache::create - entering... [timeout = %d]\n", timeout);
    int32_t result = CACHE_FAILED;
    if (cacheInitialized && cacheOpened) {
        LOG_TRACE(log, "FS_Cache::create - retValue is CACHE_ALREADY_OPENED!\n");
        result = CACHE_ALREADY_OPENED;
    } else if (cacheInitialized) {
        bool done = false;
        switch (creationDisposition) {
            case FS_CACHE_CREATE:
                LOG_TRACE(log, "FS_Cache::create - creationDisposition is FS_CACHE_CREATE\n");
                done = createCache();
                break;
            case FS_CACHE_OPEN:
                LOG_TRACE(log, "FS_Cache::create - creationDisposition is FS_CACHE_OPEN\n");
                done = openCache();
                break;
            case FS_CACHE_OPEN_ALWAYS:
                LOG_TRACE(log, "FS_Cache::create - creationDisposition is FS_CACHE_OPEN_ALWAYS\n");
                done = openCache() || createCache();
                break;
            default:
                break;
        }
        if (done) {
            LOG_TRACE(log, "FS_Cache::create - retValue is SUCCESS\n");
            cacheOpened = true;
            result = SUCCESS;
        }
    }
    LOG_EXIT(log, "FS_Cache::create - exit. %d\n", result);
    return result;
}

bool FS_Cache::createCache() {
    if (!cacheInitialized)
        return false;
    if (!createFilesTable(tbFiles, filesTableName.c_str()))
        return false;
    if (!createDirectoriesTable(tbDirectories, directoriesTableName.c_str())) {
        tbFiles.reset();
        return false;
    }
    beginCacheUpdate();
    tablesReady();
    directoriesIndex = 0;
    writeDirectoriesIndex();
    return true;
}

void FS_Cache::tablesReady() {
    cacheCorrupted = false;
    filesRecordSet = tbFiles->openRecordSet();
    directoriesRecordSet = tbDirectories->openRecordSet();
    parentRecordSet = tbDirectories->openRecordSet();
}

bool FS_Cache::createFilesTable(std::unique_ptr<Table>& table, const wchar_t* name) {
    LOG_ENTRY(log, "FS_Cache::createFilesTable - entering...\n");
    table = makeTable(name, cachePathName, compactTables, cacheschema::kFileFields,
                      cacheschema::kFileIndexes);
    LOG_EXIT(log, "FS_Cache::createFilesTable - exit. [retValue is %d]\n", table ? 1 : 0);
    return table != nullptr;
}

bool FS_Cache::createDirectoriesTable(std::unique_ptr<Table>& table, const wchar_t* name) {
    LOG_ENTRY(log, "FS_Cache::createDirectoriesTable - entering...\n");
    table = makeTable(name, cachePathName, compactTables, cacheschema::kDirectoryFields,
                      cacheschema::kDirectoryIndexes);
    LOG_EXIT(log, "FS_Cache::createDirectoriesTable - exit. [retValue is %d]\n", table ? 1 : 0);
    return table != nullptr;
}

bool FS_Cache::openCache() {
    LOG_ENTRY(log, "FS_Cache::openCache - entering...\n");
    bool opened = false;
    if (cacheInitialized) {
        LOG_TRACE(log, "FS_Cache::openCache - cacheInitialized is true\n");
        // Every test runs, so that the counter is read whatever the marker says.
        const bool marked = insideCacheUpdate();
        const bool counted = readDirectoriesIndex();
        if (marked || !counted || directoriesIndex > cacheschema::kMaxOpenedDirectoriesIndex) {
            LOG_TRACE(log, "FS_Cache::openCache() - cache corrupted or directoriesIndex invalid\n");
            cacheCorrupted = true;
        } else if (!openTable(tbFiles, filesTableName.c_str())) {
            LOG_TRACE(log, "FS_Cache::openCache - open tbFiles failed!\n");
        } else if (!openTable(tbDirectories, directoriesTableName.c_str())) {
            LOG_TRACE(log, "FS_Cache::openCache - open tbDirectories failed!\n");
            tbFiles.reset();
        } else {
            LOG_TRACE(log, "FS_Cache::openCache() - directoriesIndex = %d\n",
                      static_cast<int>(directoriesIndex));
            beginCacheUpdate();
            tablesReady();
            LOG_TRACE(log, "FS_Cache::openCache - cache opened!\n");
            opened = true;
        }
    }
    LOG_EXIT(log, "FS_Cache::openCache - exit. %d\n", opened ? 1 : 0);
    return opened;
}

bool FS_Cache::openTable(std::unique_ptr<Table>& table, const wchar_t* name) {
    LOG_ENTRY(log, "FS_Cache::openTable - entering... [%ls]\n", name ? name : L"");
    table = std::make_unique<Table>(name, cachePathName.c_str(), compactTables);
    const bool opened = table->open();
    if (!opened)
        table.reset();
    LOG_EXIT(log, "FS_Cache::openTable - exit. [retValue is %d]\n", opened ? 1 : 0);
    return opened;
}

int32_t FS_Cache::lock() {
    int32_t result = CACHE_FAILED;
    if (accessMutex) {
        LOG_TRACE(log, "FS_Cache::lock - waiting for accessMutex...\n");
        if (accessMutex->wait() == 0) {
            LOG_TRACE(log, "FS_Cache::lock - accessMutex SUCCESS!\n");
            result = 0;
        } else {
            LOG_TRACE(log, "FS_Cache::lock - accessMutex FAILED!\n");
        }
    }
    LOG_EXIT(log, "FS_Cache::lock - exit. [retValue is %d]\n", result);
    return result;
}

bool FS_Cache::unlock() {
    if (!accessMutex)
        return false;
    LOG_TRACE(log, "FS_Cache::unlock - accessMutex RELEASED!\n");
    return accessMutex->release();
}

bool FS_Cache::closeCache() {
    if (!cacheInitialized)
        return true;
    // A monitor still running is stopped first (nothing when it is stopped already, as in
    // every tear-down: stopMonitor, lock, closeCache).
    stopMonitor();
    if (tbFiles)
        tbFiles->close();
    if (tbDirectories)
        tbDirectories->close();
    if (!cacheCorrupted)
        endCacheUpdate();
    return true;
}

bool FS_Cache::deleteCache() {
    if (!tbFiles || !tbDirectories)
        return false;
    const bool files = tbFiles->drop();
    const bool directories = tbDirectories->drop();
    removeDirectoriesIndex();
    removeExclusionHashes();
    return files && directories;
}
