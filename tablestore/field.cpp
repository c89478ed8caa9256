#include "field.h"

#include <cstring>
#include <cwchar>

uint32_t StringField::storedSize() const {
    return text_ ? static_cast<uint32_t>(2 * length_ + 6) : 6;
}

void StringField::setValue(const wchar_t* text) {
    setValue(text, text != nullptr ? std::wcslen(text) : 0);
}

void StringField::setValue(const wchar_t* text, size_t length) {
    if (name() == nullptr)
        return;
    heap_.reset();
    inline_[0] = L'\0';
    length_ = 0;
    if (text == nullptr) {
        text_ = nullptr;
        return;
    }
    wchar_t* to = inline_;
    if (length >= kInlineUnits) {
        heap_ = std::make_unique<wchar_t[]>(length + 1);
        to = heap_.get();
    }
    std::wmemcpy(to, text, length);
    to[length] = L'\0';
    text_ = to;
    length_ = length;
    isNull = 0;
}

bool StringField::copyFrom(const StringField& other) {
    if (other.name() == nullptr)
        return false;
    const uint8_t null = other.isNull;
    copyBase(other);
    setValue(other.text_);
    isNull = null;
    return true;
}

void ByteStringField::setValue(const uint8_t* lengthPrefixed) {
    if (name() == nullptr)
        return;
    if (lengthPrefixed == nullptr) {
        value_ = nullptr;
        return;
    }
    std::memcpy(buffer_, lengthPrefixed, static_cast<size_t>(lengthPrefixed[0]) + 1);
    value_ = buffer_;
    isNull = 0;
}

bool ByteStringField::copyFrom(const ByteStringField& other) {
    if (other.name() == nullptr)
        return false;
    copyBase(other);
    std::memcpy(buffer_, other.buffer_, sizeof buffer_);
    value_ = other.value_ ? buffer_ : nullptr;
    return true;
}

std::unique_ptr<Field> makeField(const wchar_t* name, int32_t type) {
    switch (type) {
        case FT_UINT8:
            return std::make_unique<UInt8Field>(name);
        case FT_UINT16:
            return std::make_unique<UInt16Field>(name);
        case FT_UINT32:
            return std::make_unique<UInt32Field>(name);
        case FT_UINT64:
            return std::make_unique<UInt64Field>(name);
        case FT_STRING:
            return std::make_unique<StringField>(name);
        case FT_BYTES:
            return std::make_unique<ByteStringField>(name);
        default:
            return nullptr;
    }
}

bool copyField(Field& target, const Field& other) {
    if (target.type() != other.type() || other.name() == nullptr)
        return false;
    switch (other.type()) {
        case FT_UINT8:
            return static_cast<UInt8Field&>(target).copyFrom(static_cast<const UInt8Field&>(other));
        case FT_UINT16:
            return static_cast<UInt16Field&>(target).copyFrom(
                static_cast<const UInt16Field&>(other));
        case FT_UINT32:
            return static_cast<UInt32Field&>(target).copyFrom(
                static_cast<const UInt32Field&>(other));
        case FT_UINT64:
            return static_cast<UInt64Field&>(target).copyFrom(
                static_cast<const UInt64Field&>(other));
        case FT_STRING:
            return static_cast<StringField&>(target).copyFrom(
                static_cast<const StringField&>(other));
        case FT_BYTES:
            return static_cast<ByteStringField&>(target).copyFrom(
                static_cast<const ByteStringField&>(other));
        default:
            return false;
    }
}

bool FieldList::addField(const wchar_t* name, int32_t type) {
    if (name == nullptr)
        return false;
    std::unique_ptr<Field> field = makeField(name, type);
    if (!field)
        return false;
    fields_.push_back(std::move(field));
    return true;
}

Field* FieldList::findField(const wchar_t* name) const {
    if (name == nullptr)
        return nullptr;
    for (const auto& field : fields_) {
        // The first unit settles most misses without a call.
        const wchar_t* own = field->name();
        if (own != nullptr && own[0] == name[0] && std::wcscmp(own, name) == 0)
            return field.get();
    }
    return nullptr;
}

void FieldList::resetFrom(const FieldList& schema) {
    fields_.clear();
    for (const auto& source : schema.fields_) {
        std::unique_ptr<Field> copy = makeField(source->name(), source->type());
        if (copy && copyField(*copy, *source))
            fields_.push_back(std::move(copy));
    }
}
