// One table of the engine. A table named N in directory D keeps
//   D N ".dat"      data file: live record count (u32), removed record count (u32), field count
//                   F (u32), F field descriptors (u32 type code, u32 name length in bytes, the
//                   name in UTF-16LE), then the records, each appended at the end;
//   D N ".pxx"      record pointers: u32 entry k is the data-file offset of record number k, or
//                   0 when number k is free; numbers are never reused;
//   D N "_idx.dat"  the index catalogue, and one file per index (see TableIndex).
// All numbers are little-endian. Every count, length and offset read from these files is checked
// against the file's size: a damaged file fails open or the read that meets the damage.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "field.h"
#include "file.h"
#include "indexkey.h"
#include "recordcodec.h"
#include "recordset.h"
#include "sync/win32sync.h"
#include "tableindex.h"

class Table {
  public:
    // Builds the names and paths (the directory made absolute) and creates the table mutex
    // N "_t_mutex", which lives as long as the table object. With a null name or directory, or a
    // directory that cannot be made absolute, the table has no paths and cannot be created or
    // opened. compact chooses the record encoding; it is not recorded in the files, so a table
    // must be opened with the flag it was written with.
    Table(const wchar_t* name, const wchar_t* directory, bool compact);
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Declares a field of the schema; refused once the table is created or opened.
    bool addField(const wchar_t* name, int32_t type);

    // Creates empty data and record-pointer files with the declared schema and forgets the old
    // index catalogue (old index files stay until an index of the same name is created again).
    bool create();
    // Opens the files, reads the schema and loads the indexes of the catalogue (an index whose
    // file cannot be opened is left out). False when a file is missing or damaged. With readOnly
    // every file is opened for reading only (see File::openReadOnly): records and indexes can be
    // read and walked, and every change is refused, so a reader never alters a live table.
    bool open(bool readOnly = false);
    bool readOnly() const { return isOpen() && data_->readOnly(); }
    bool writable() const { return isOpen() && !data_->readOnly(); }
    // Closes files and indexes, ends every record set opened on the table (their handles then
    // answer as empty ones) and empties the schema; false when the table was not open.
    bool close();
    // Deletes the table's files and the index files its catalogue lists; refused while open.
    bool drop();
    bool isOpen() const { return data_ != nullptr; }

    // Reads record number into record (made from the schema with resetFrom). False for a free
    // number and for a record that the files cannot hold.
    bool readRecord(uint32_t number, FieldList& record);
    // Appends record under the next number and files it in every index.
    bool appendRecord(const FieldList& record);
    // Rewrites record number. The fixed encoding rewrites it in place when every string keeps its
    // stored length; otherwise, and always in the compact encoding, the record moves to a new
    // number at the end. The second form tells the number the record has afterwards.
    bool updateRecord(uint32_t number, const FieldList& record);
    bool updateRecord(uint32_t number, const FieldList& record, uint32_t& now);
    // Frees record number; its index entries stay and lookups skip them.
    bool removeRecord(uint32_t number);

    // The walk over the records in use, in number order.
    bool firstRecordId(uint32_t& number);
    bool nextRecordId(uint32_t& number);
    // The number the next appended record gets: every record number given so far is below it.
    uint32_t numberEnd();

    // Builds an index over fieldName from the records in use and adds it to the catalogue.
    bool createIndex(const wchar_t* indexName, const wchar_t* fieldName);
    // The first index over fieldName, or null.
    TableIndex* findIndex(const wchar_t* fieldName) const;
    // The first record in use filed under keyText in index; number and next carry the walk on.
    bool firstCandidate(TableIndex& index, const wchar_t* keyText, uint32_t& number,
                        uint32_t& next);
    bool nextCandidate(TableIndex& index, uint32_t& number, uint32_t& next);

    // A new record set on the open table, walking every record until it selects criteria (see
    // RecordSet); an empty handle when the table is not open.
    RecordSet openRecordSet();
    // Ends the record set of handle and empties the handle; false when handle refers to no
    // record set of this table (an empty handle, one closed before, or another table's).
    bool closeRecordSet(RecordSet& handle);

    // The files of the open table: data, record pointers, index catalogue and each index.
    std::vector<std::wstring> filePaths() const;

    const wchar_t* name() const { return name_.c_str(); }
    const FieldList& schema() const { return schema_; }
    bool compact() const { return codec_.compact(); }

  private:
    void releaseFiles();
    bool writeHeader();
    bool readHeader();
    bool loadIndexes(bool readOnly);
    bool saveCatalogue() const;
    std::wstring cataloguePath() const;

    bool recordOffset(uint32_t number, uint32_t& offset);
    bool pointerAt(uint64_t number, uint32_t& offset);
    bool scanFrom(uint64_t number, uint32_t& found);
    bool adjustCount(uint32_t offset, int32_t delta);
    bool addIndexEntries(const FieldList& record, uint32_t number);
    bool reindexChangedKeys(const FieldList& before, const FieldList& after, uint32_t number);
    bool append(const FieldList& record, uint32_t& number);
    bool moveRecord(uint32_t number, const FieldList& record, uint32_t& now);
    bool fillIndex(TableIndex& index);
    bool settleCandidate(TableIndex& index, uint32_t& number, uint32_t& next);

    std::wstring name_;
    // The absolute directory, ending with a separator; empty when the table has no paths.
    std::wstring directory_;
    std::wstring dataPath_;
    std::wstring pointerPath_;

    RecordCodec codec_;
    FieldList schema_;
    // Scratch record for the stored version of a record being updated.
    FieldList stored_;
    IndexKey key_;
    std::vector<std::unique_ptr<TableIndex>> indexes_;
    std::unique_ptr<File> data_;
    std::unique_ptr<File> pointers_;
    // Record sets hand out weak references, so that a handle outliving its set finds it ended.
    std::vector<std::shared_ptr<RecordCursor>> cursors_;
    // Offset of the first byte behind the field descriptors: no record starts before it.
    uint32_t recordsStart_ = 0;
    std::unique_ptr<SyncObject> mutex_;
};
