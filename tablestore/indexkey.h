// The key text under which an index files a field value, and its hash bucket. Numbers are keyed
// by the decimal text of their low 32 bits, strings by their upper-cased text (each unit lower-
// cased first), so string keys ignore letter case just as comparisons without regard to case do.
#pragma once

#include <cstdint>
#include <string>

#include "field.h"

// Buckets of every index file.
inline constexpr uint32_t INDEX_BUCKETS = 65536;

// Bucket of a key text: its hash (terminator included) modulo INDEX_BUCKETS.
uint32_t indexBucket(const wchar_t* keyText);

class IndexKey {
  public:
    // The key text of field's value; false for a type that has no key text (byte strings).
    bool assign(const Field& field);
    void assignNumber(uint64_t value);
    // A null text keys like the empty one.
    void assignText(const wchar_t* text);

    const wchar_t* text() const { return text_.c_str(); }
    uint32_t bucket() const { return indexBucket(text_.c_str()); }

  private:
    // Kept between keys, so that forming one allocates only for a longer text than before.
    std::wstring text_;
};
