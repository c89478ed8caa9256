// The state of one record set, owned by its table (see recordset.h for what a walk visits): the
// record buffer, the selected criteria and the position of the walk, either along one index
// chain or through the record numbers below the end fixed when the walk began.
#pragma once

#include <cstdint>

#include "criteriaevaluator.h"
#include "field.h"
#include "indexkey.h"
#include "tableindex.h"

class Table;

class RecordCursor {
  public:
    explicit RecordCursor(Table& table);
    RecordCursor(const RecordCursor&) = delete;
    RecordCursor& operator=(const RecordCursor&) = delete;

    void select(CriteriaEvaluator* criteria, bool caseSensitive);
    bool moveFirst();
    bool moveNext();
    bool endedOnDamage() const { return damaged_; }

    // The buffer's field called name when it has type; null otherwise.
    Field* field(const wchar_t* name, int32_t type) const;

    bool addRecord();
    bool updateRecord();
    bool removeRecord();

  private:
    enum class Walk { NotStarted, Walking, Ended };

    // Steps to the next candidate of the walk; false when there is none.
    bool step();
    // Reads candidates from found on until one matches (true) or the walk ends (false).
    bool settle(bool found);

    Table& table_;
    FieldList record_;
    CriteriaEvaluator* criteria_ = nullptr;
    bool caseSensitive_ = false;
    // The index of an index walk and its key text; null for a walk through the numbers.
    TableIndex* index_ = nullptr;
    IndexKey key_;

    Walk walk_ = Walk::NotStarted;
    // Number of the candidate last visited; stays when that record is removed or moved.
    uint32_t position_ = 0;
    // Index walk: the chain slot that follows the candidate.
    uint32_t next_ = kNoSlot;
    // Number walk: the end of the numbers given when the walk began.
    uint32_t end_ = 0;
    // The record the buffer was read from (its number after a move).
    uint32_t current_ = 0;
    bool hasCurrent_ = false;
    // The walk ended at a record that could not be read.
    bool damaged_ = false;
};
