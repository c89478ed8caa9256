// The stored form of one record: a null bitmap (one bit per field, most significant bit first)
// followed by the values of all fields in schema order, in either of two encodings:
//   fixed    numbers at their full width, little-endian; a string as its UTF-8 byte length in
//            two bytes and the bytes;
//   compact  numbers above 8 bits and string lengths as variable-length numbers (7-bit groups,
//            most significant first, each byte (group << 1) | more).
// A byte string is its length byte and that many bytes in both encodings. A null field is stored
// with the value it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "field.h"
#include "file.h"

// Longest UTF-8 form of one string value (its stored length is a 16-bit number).
inline constexpr size_t kMaxStoredText = 0xFFFF;

// UTF-8 byte count of text as records store it (each wide unit encoded by itself).
size_t storedTextLength(const wchar_t* text);

// True when records a and b occupy the same bytes field by field in the fixed encoding: the same
// field types, and strings and byte strings of the same stored lengths.
bool sameFixedLayout(const FieldList& a, const FieldList& b);

class RecordCodec {
  public:
    explicit RecordCodec(bool compact) : compact_(compact) {}

    bool compact() const { return compact_; }
    // Fields of the stored records; the bitmap takes one bit for each. Records of more than
    // kMaxRecordFields fields can be neither encoded nor decoded.
    void setFieldCount(size_t count) { bitmapSize_ = (count + 7) / 8; }

    // Encodes record into bytes(). False when it cannot be stored: more fields than the bitmap
    // holds, or a string longer than kMaxStoredText UTF-8 bytes.
    bool encode(const FieldList& record);
    const std::vector<uint8_t>& bytes() const { return bytes_; }

    // Decodes the record at the file's position into record (made from the table's schema) and
    // moves the position past it. False when the stored bytes end early or hold an impossible
    // value.
    bool decode(File& file, FieldList& record);

  private:
    void putNumber(uint64_t value, size_t width);
    void putText(const wchar_t* text, size_t length);
    // The stored bytes of one record, read in place.
    struct Input {
        const uint8_t* at;
        const uint8_t* end;
        bool take(size_t count, const uint8_t*& bytes) {
            if (static_cast<size_t>(end - at) < count)
                return false;
            bytes = at;
            at += count;
            return true;
        }
    };
    bool readNumber(Input& in, size_t width, uint64_t& value);
    bool readVarNumber(Input& in, uint64_t& value);
    bool readText(Input& in, StringField& field);
    bool readBytes(Input& in, ByteStringField& field);

    bool fitsBitmap(size_t fieldCount) const;

    bool compact_;
    size_t bitmapSize_ = 0;
    std::vector<uint8_t> bytes_;
    // Scratch for decoding strings, grown on demand and kept.
    std::vector<wchar_t> wide_;
};
