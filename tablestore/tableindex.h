// One hash index over one field of a table, in a file of its own (I ".idx"): an array of 8-byte
// slots (record number, next slot), little-endian. Slots 0..65535 are the buckets; overflow slots
// are appended behind them and chain the older records of a bucket, newest first. An empty
// bucket holds 0xFFFFFFFF as its record number; 0xFFFFFFFF as next slot ends a chain.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "file.h"
#include "indexkey.h"

// Record number of an empty bucket, and the next slot that ends a chain.
inline constexpr uint32_t kNoSlot = 0xFFFFFFFF;

class TableIndex {
  public:
    // Builds the file name I ".idx" in directory (a separator is added when it does not end with
    // one). With any argument null the index has no path and cannot be created or opened.
    TableIndex(const wchar_t* indexName, const wchar_t* directory, const wchar_t* fieldName);
    TableIndex(const TableIndex&) = delete;
    TableIndex& operator=(const TableIndex&) = delete;

    // Creates the file (emptying an existing one) with every bucket empty.
    bool create();
    // Opens the existing file (for lookups only when readOnly); false when it is too short for its
    // buckets or not made of slots.
    bool open(bool readOnly = false);
    bool close();
    bool isOpen() const { return file_ != nullptr; }
    // Deletes the index file; refused while it is open.
    bool removeFile();

    bool readSlot(uint32_t slot, uint32_t& number, uint32_t& next);
    // Reads a slot of a chain and checks its link: from a bucket a chain leads to an overflow
    // slot, and from an overflow slot only to an older one, that is one with a lower index.
    // False for a slot outside the file or a link that breaks this rule.
    bool readChainSlot(uint32_t slot, uint32_t& number, uint32_t& next);
    // Files recordNumber under bucket, ahead of the records already there.
    bool insert(uint32_t bucket, uint32_t recordNumber);
    // True when the chain of bucket already lists recordNumber.
    bool lists(uint32_t bucket, uint32_t recordNumber);

    const wchar_t* indexName() const { return indexName_.c_str(); }
    const wchar_t* fieldName() const { return fieldName_.c_str(); }
    const std::wstring& path() const { return path_; }

  private:
    bool writeSlot(uint32_t number, uint32_t next);

    std::wstring indexName_;
    std::wstring fieldName_;
    // Empty when the index was made without one of its names.
    std::wstring path_;
    std::unique_ptr<File> file_;
};
