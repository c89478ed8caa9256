// A set of file-name patterns, as written in a brace literal of a criteria: double-quoted items
// such as "*.txt", "readme*" or "setup.exe". Items are sorted into four classes: exact names,
// "*" + suffix, prefix + "*", and every other arrangement of wildcards. The first three are
// answered by hash lookups (one per candidate length that some item has), only the last one is
// matched item by item. Filled and built once, read-only afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "keyhashtable.h"

class PatternSet {
  public:
    enum Kind : uint32_t { EXACT = 1, SUFFIX = 2, PREFIX = 4, GENERAL = 8 };
    // Lengths (after the star is removed) that hashed items may have; longer items are matched
    // one by one as general items.
    static constexpr size_t kLengthMapSize = 4096;

    PatternSet();
    ~PatternSet();
    PatternSet(const PatternSet&) = delete;
    PatternSet& operator=(const PatternSet&) = delete;

    // Adds the double-quoted items of a brace literal's content; everything outside quotes is
    // skipped, and an item without its closing quote runs to the end.
    void fill(std::wstring_view content);
    // Classifies and stores one item: the class bit, or 0 when the item is ignored (empty, or
    // after "*") or is "*" itself, which makes the set match everything.
    uint32_t add(std::wstring_view item);
    // Lower-cases the items and builds the hash tables; before this the set matches nothing.
    void build(bool caseSensitive);
    // True when s matches at least one item. The caller lower-cases s first. s is
    // zero-terminated at length.
    bool matches(const wchar_t* s, size_t length) const;
    bool matches(const wchar_t* s) const;
    bool matches(const std::wstring& s) const { return matches(s.c_str(), s.size()); }

    uint32_t kinds() const { return kinds_; }
    bool isBuilt() const { return built_; }
    bool matchesAll() const { return matchAll_; }
    const std::vector<std::wstring>& items(Kind kind) const;
    // The hash table of a hashed class, or null when that class is absent or the set unbuilt.
    const KeyHashTable* table(Kind kind) const;

  private:
    bool lengthHas(size_t length, Kind kind) const {
        return length < kLengthMapSize && ((*lengthMap_)[length] & kind) != 0;
    }
    uint32_t store(Kind kind, std::wstring_view item, size_t hashedLength);

    uint32_t kinds_ = 0;
    bool caseSensitive_ = false;
    bool built_ = false;
    bool matchAll_ = false;
    std::unique_ptr<std::array<uint8_t, kLengthMapSize>> lengthMap_;
    std::vector<std::wstring> exact_;
    std::vector<std::wstring> suffix_;
    std::vector<std::wstring> prefix_;
    std::vector<std::wstring> general_;
    std::unique_ptr<KeyHashTable> exactTable_;
    std::unique_ptr<KeyHashTable> suffixTable_;
    std::unique_ptr<KeyHashTable> prefixTable_;
};
