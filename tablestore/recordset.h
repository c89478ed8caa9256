// A caller's handle on a walk over one table. Table::openRecordSet makes the set; the table owns
// it and ends it in closeRecordSet or in its own close. A handle whose set has ended, and an
// empty handle, answer every call with false, 0 or null.
//
// Use: select criteria (or none), moveFirst, then moveNext until it answers false. The record
// found is read into the set's record buffer; the getters read that buffer and the setters
// change it, and addRecord, updateRecord and removeRecord write it to the table.
//
// Which records a walk visits:
//   - With criteria whose key hint (set by the caller with CriteriaEvaluator::setKeyHint, or
//     collected from the text) names a field that has an index, the walk visits the records
//     filed under the hint's key, newest first, and returns those the criteria hold for. Without
//     such an index it visits every record in use in number order and tests each one.
//   - Without criteria (no select, null criteria, empty text) it returns every record in use,
//     in number order.
//   - A walk returns each record at most once, and only records that were in use when moveFirst
//     ran and still are when the walk reaches them. Records appended during the walk, by
//     addRecord or by an updateRecord that moves a record to a new number, are not visited, so
//     a walk that updates every record it meets ends.
//   - Removing the current record (removeRecord) and going on with moveNext is allowed; so is
//     updating it. After an update that moved the record, the set stays on it under its new
//     number, so that another update or a removal reaches it.
// Field names match exactly, and each accessor works only on a field of its own type: a name the
// table lacks, or a field of another type, gives false, 0 or null.
#pragma once

#include <cstdint>
#include <memory>

class CriteriaEvaluator;
class RecordCursor;
class Table;

class RecordSet {
  public:
    // An empty handle.
    RecordSet() = default;

    // True while the handle refers to a record set that has not ended.
    bool isOpen() const { return !cursor_.expired(); }

    // Chooses the records of the next walk: those for which criteria hold (null, or an empty
    // text, means every record), compared by caseSensitive. criteria are not owned and must
    // outlive the walk; their variables are read at every test, so a caller changes them between
    // walks without selecting again. Binds criteria to this set's record buffer. The current
    // record stays current until the next move.
    bool select(CriteriaEvaluator* criteria, bool caseSensitive);
    // Reads the first (next) record of the walk into the buffer; false when there is none left or
    // a record cannot be read. moveNext before any moveFirst starts the walk.
    bool moveFirst();
    bool moveNext();
    // True when the walk ended at a record that the files could not give (a damaged table)
    // rather than behind its last record.
    bool endedOnDamage() const;

    // The text of a string field of the buffer, valid until the buffer changes.
    const wchar_t* getString(const wchar_t* fieldName) const;
    uint8_t getUInt8(const wchar_t* fieldName) const;
    uint16_t getUInt16(const wchar_t* fieldName) const;
    uint32_t getUInt32(const wchar_t* fieldName) const;
    uint64_t getUInt64(const wchar_t* fieldName) const;

    // Set a field of the buffer (a null text leaves a string field as it is).
    bool setString(const wchar_t* fieldName, const wchar_t* text);
    bool setUInt32(const wchar_t* fieldName, uint32_t value);
    bool setUInt64(const wchar_t* fieldName, uint64_t value);

    // Appends the buffer as a new record; the current record stays current.
    bool addRecord();
    // Writes the buffer over the current record; false when there is none.
    bool updateRecord();
    // Removes the current record; false when there is none. moveNext goes on behind it.
    bool removeRecord();

  private:
    friend class Table;
    explicit RecordSet(const std::shared_ptr<RecordCursor>& cursor)
        : cursor_(cursor), raw_(cursor.get()) {}

    // The cursor while the set has not ended. Record sets serve one thread at a time, so a set
    // that has not expired stays alive for the call; the raw pointer spares each call the
    // atomic counting of a weak_ptr lock.
    RecordCursor* cursor() const { return cursor_.expired() ? nullptr : raw_; }

    std::weak_ptr<RecordCursor> cursor_;
    RecordCursor* raw_ = nullptr;
};
