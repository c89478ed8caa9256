// Typed, named fields and ordered lists of them. One FieldList type serves as a table's schema,
// as a record buffer and as the list of variables bound to a criteria expression.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum FieldType : int32_t {
    FT_UINT8 = 1,
    FT_UINT16 = 2,
    FT_UINT32 = 3,
    FT_UINT64 = 4,
    FT_STRING = 5,
    FT_BYTES = 6,
};

// Most fields of one record (the null bitmap holds at most 32 bytes).
inline constexpr size_t kMaxRecordFields = 256;

class Field {
  public:
    virtual ~Field() = default;
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;

    // Size figure of the stored value (informational; nothing depends on it).
    virtual uint32_t storedSize() const = 0;

    // The name, or null for a field made without one (such a field takes no string value).
    const wchar_t* name() const { return hasName_ ? name_.c_str() : nullptr; }
    int32_t type() const { return type_; }

    // 1 from construction until a value is set.
    uint8_t isNull = 1;

  protected:
    Field(const wchar_t* name, int32_t type)
        : name_(name ? name : L""), hasName_(name != nullptr), type_(type) {}
    // Copies name and null flag; the classes copy their values.
    void copyBase(const Field& other) {
        name_ = other.name_;
        hasName_ = other.hasName_;
        isNull = other.isNull;
    }

  private:
    std::wstring name_;
    bool hasName_;
    int32_t type_;
};

// The four number fields.
template <typename T, int32_t Code, uint32_t Size>
class NumberField : public Field {
  public:
    explicit NumberField(const wchar_t* name) : Field(name, Code) {}
    uint32_t storedSize() const override { return Size; }
    T getValue() const { return value_; }
    void setValue(T value) {
        value_ = value;
        isNull = 0;
    }
    bool copyFrom(const NumberField& other) {
        copyBase(other);
        value_ = other.value_;
        return true;
    }

  private:
    T value_ = 0;
};

using UInt8Field = NumberField<uint8_t, FT_UINT8, 3>;
using UInt16Field = NumberField<uint16_t, FT_UINT16, 4>;
using UInt32Field = NumberField<uint32_t, FT_UINT32, 6>;
using UInt64Field = NumberField<uint64_t, FT_UINT64, 10>;

// A wide string: up to 127 units live in the field itself, longer texts in a buffer of their own.
class StringField : public Field {
  public:
    static constexpr size_t kInlineUnits = 128;

    explicit StringField(const wchar_t* name) : Field(name, FT_STRING) {}
    uint32_t storedSize() const override;
    // The text, or null when a null text was set.
    const wchar_t* getValue() const { return text_; }
    // Units of the text (0 for a null text).
    size_t length() const { return length_; }
    // Does nothing on a field without a name. A null text leaves the value null and isNull as it
    // was; any other text is copied and clears isNull.
    void setValue(const wchar_t* text);
    // The same for the first length units of text, for a caller that knows the length.
    void setValue(const wchar_t* text, size_t length);
    bool copyFrom(const StringField& other);

  private:
    wchar_t inline_[kInlineUnits] = {};
    std::unique_ptr<wchar_t[]> heap_;
    const wchar_t* text_ = inline_;
    size_t length_ = 0;
};

// A byte string of at most 255 bytes, held as a length byte followed by the bytes.
class ByteStringField : public Field {
  public:
    explicit ByteStringField(const wchar_t* name) : Field(name, FT_BYTES) {}
    uint32_t storedSize() const override { return static_cast<uint32_t>(buffer_[0]) + 1; }
    // The length-prefixed buffer, or null when a null value was set.
    const uint8_t* getValue() const { return value_; }
    // Copies the length byte and that many bytes; null leaves the value null. Does nothing on
    // a field without a name.
    void setValue(const uint8_t* lengthPrefixed);
    bool copyFrom(const ByteStringField& other);

  private:
    uint8_t buffer_[256] = {};
    const uint8_t* value_ = buffer_;
};

// Ordered, owning list of fields; names compare exactly and the first of duplicates is found.
class FieldList {
  public:
    FieldList() = default;
    FieldList(const FieldList&) = delete;
    FieldList& operator=(const FieldList&) = delete;
    FieldList(FieldList&&) = default;
    FieldList& operator=(FieldList&&) = default;

    // False for a null name or a type code outside 1 to 6.
    bool addField(const wchar_t* name, int32_t type);
    Field* findField(const wchar_t* name) const;
    size_t fieldCount() const { return fields_.size(); }
    Field* fieldAt(size_t index) const { return fields_[index].get(); }
    // Makes this list a copy of schema (names, types, values, null flags); fields of the schema
    // without a name are skipped.
    void resetFrom(const FieldList& schema);
    void clear() { fields_.clear(); }

  private:
    std::vector<std::unique_ptr<Field>> fields_;
};

// A new field of the class for type, or null for an unknown code.
std::unique_ptr<Field> makeField(const wchar_t* name, int32_t type);
// Copies value, name and null flag from a field of the same type; false when the types differ or
// other has no name.
bool copyField(Field& target, const Field& other);
