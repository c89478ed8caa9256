// Open-addressing hash table over a fixed list of keys, used by pattern sets to look up exact
// names, suffixes and prefixes in constant time. Built once, read-only afterwards. The keys are
// borrowed: the strings belong to the caller and must outlive the table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class KeyHashTable {
  public:
    static constexpr uint32_t kEmptySlot = 0xFFFFFFFF;

    // Indexes keys[0..n) in order; case decides how a hit is confirmed.
    KeyHashTable(const std::vector<std::wstring>& keys, bool caseSensitive);

    // Where the probe offset of each new table comes from. By default the standard generator,
    // reseeded with the time, so probe runs differ from run to run (lookups never do); a
    // program that must repeat a run exactly, such as a fuzz target, sets its own source before
    // it builds tables. Null restores the default. Not to be changed while a table is built.
    using SeedSource = uint32_t (*)();
    static void setSeedSource(SeedSource source);

    bool contains(std::wstring_view s) const;

    // The text hash: h = T[unit mod 256] + 2h over the units, 32-bit.
    static uint32_t hash(std::wstring_view s);

    uint32_t size() const { return size_; }
    uint32_t count() const { return count_; }
    uint32_t seed() const { return seed_; }
    // Key index held by a slot, or kEmptySlot.
    uint32_t slot(uint32_t index) const { return slots_[index]; }

  private:
    void insert(uint32_t keyIndex);
    bool keyEquals(uint32_t keyIndex, std::wstring_view s) const;

    std::unique_ptr<uint32_t[]> slots_;
    uint32_t mask_ = 0;
    uint32_t seed_ = 0;
    uint32_t size_ = 0;
    uint32_t count_ = 0;
    bool caseSensitive_;
    std::vector<std::wstring_view> keys_;
};
