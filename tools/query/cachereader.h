// A monitor's cache opened for reading only, beside the monitor that keeps it current.
//
// The reader holds the cache's access mutex (the one the monitor takes for every burst of
// changes, named after the cache directory as the monitor names it) from before it opens the
// tables until after it has closed them, so it sees the tables between two bursts. The table
// files are opened read-only: the reader never writes, grows or cuts a file the monitor has
// mapped. Nothing is created in the cache directory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "cache/cacheschema.h"
#include "cache/fscache.h"
#include "criteriaevaluator.h"
#include "field.h"
#include "recordset.h"
#include "sync/win32sync.h"
#include "table.h"

// The text of a string field of record in UTF-8 ("" for a null field).
std::string utf8Field(RecordSet& record, const wchar_t* field);
// directory, the separator unless it ends with one, and name.
std::string joinUtf8(const std::string& directory, const std::string& name);

class CacheReader {
  public:
    // Unusable: no such directory or table, a damaged table, a lock that cannot be waited for.
    enum class Opened { Ready, Busy, Unusable };

    CacheReader(const std::wstring& workingDirectory, const std::wstring& directoriesTable,
                const std::wstring& filesTable);
    ~CacheReader();
    CacheReader(const CacheReader&) = delete;
    CacheReader& operator=(const CacheReader&) = delete;

    // Takes the access mutex, waiting at most waitMs, and opens both tables. Anything but Ready
    // comes with a one-line reason.
    Opened open(unsigned waitMs, std::string& reason);

    // Closes the tables and releases the access mutex; the destructor does it too.
    void close();

    Table& directories() { return *directories_; }
    Table& files() { return *files_; }
    // The absolute cache directory.
    const std::wstring& cachePath() const { return cachePath_; }
    // The files of both tables and the directory counter beside them.
    std::vector<std::wstring> cacheFiles() const;

    // The ID of the directory record at path (absolute); nothing when the cache has none.
    std::optional<uint32_t> findDirectory(const std::wstring& path);
    // The full path of directory id in UTF-8 (as the tool prints it), from its records up to a
    // root, remembered for the next call. Null when a record on the way is missing or
    // unreadable, or the parents loop: the cache is damaged. The first paths are found through
    // the ID index; a query that needs many reads the whole directories table once instead.
    const std::string* directoryPath(uint32_t id);
    // Directory id and every directory below it (breadth first over the PARENTID index).
    std::unordered_set<uint32_t> subtree(uint32_t id);

    // Calls visit for each directory record whose PARENTID is id, or each file record whose
    // PATHID is id (both through their index); visit reads the positioned record set.
    void forChildDirectories(uint32_t id, const std::function<void(RecordSet&)>& visit);
    void forFiles(uint32_t id, const std::function<void(RecordSet&)>& visit);
    // Calls visit for each record of table for which criteria hold (every record for null).
    void forEach(Table& table, CriteriaEvaluator* criteria, bool caseSensitive,
                 const std::function<void(RecordSet&)>& visit);

    // Set once a walk met a record it could not read or a link that leads nowhere.
    bool damaged() const { return !damage_.empty(); }
    const std::string& damage() const { return damage_; }

  private:
    // Walks records (selected already) and notes damage when the walk ends on it.
    void walk(RecordSet& records, Table& table, const std::function<void(RecordSet&)>& visit);
    // Opens table name read-only into slot, checking that it has the fields of a cache table.
    template <size_t F>
    bool openTable(std::unique_ptr<Table>& slot, const std::wstring& name,
                   const cacheschema::FieldDef (&fields)[F], const char* kind, std::string& reason);
    void selectNumber(RecordSet& records, CriteriaEvaluator& criteria, UInt32Field* variable,
                      const wchar_t* field, uint32_t value);
    void noteDamage(std::string what);
    // The name and parent of directory id, from the loaded table or through the ID index.
    bool directoryRecord(uint32_t id, std::string& name, uint32_t& parent);
    void loadDirectories();

    std::wstring directoriesName_;
    std::wstring filesName_;
    std::wstring cachePath_;
    // Gives the access mutex's name and the look-up of a directory by path; it never creates,
    // opens or writes tables.
    FS_Cache cache_;
    std::unique_ptr<SyncObject> lock_;
    bool locked_ = false;
    std::unique_ptr<Table> directories_;
    std::unique_ptr<Table> files_;
    // Record sets on the directories table: two for findDirectory, one for look-ups by ID or
    // PARENTID while another walk goes on.
    RecordSet byName_;
    RecordSet byParent_;
    RecordSet lookup_;

    FieldList variables_;
    UInt32Field* id_ = nullptr;
    UInt32Field* parentId_ = nullptr;
    UInt32Field* pathId_ = nullptr;
    CriteriaEvaluator critId_;
    CriteriaEvaluator critParentId_;
    CriteriaEvaluator critPathId_;
    SyntaxValue hint_;

    std::unordered_map<uint32_t, std::string> paths_;
    // Every directory record by ID (its name in UTF-8), once loadDirectories has run.
    struct Directory {
        std::string name;
        uint32_t parent = 0;
    };
    std::unordered_map<uint32_t, Directory> loaded_;
    bool allLoaded_ = false;
    uint32_t indexLookups_ = 0;
    std::string damage_;
};
