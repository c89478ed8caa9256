#include "recordcodec.h"

#include <cstdint>
#include <cstring>

#include "text/strutil.h"
#include "text/utf8.h"

namespace {

// Unit value as records store it: the code point where wchar_t holds them, else the 16-bit unit.
uint32_t unitOf(wchar_t c) {
    return static_cast<uint32_t>(c) & (sizeof(wchar_t) == 2 ? 0xFFFFu : 0x7FFFFFFFu);
}

}  // namespace

size_t storedTextLength(const wchar_t* text) {
    size_t length = 0;
    char scratch[utf8::kMaxUnitBytes];
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p)
        length += utf8::encodeUnit(unitOf(*p), scratch);
    return length;
}

bool sameFixedLayout(const FieldList& a, const FieldList& b) {
    if (a.fieldCount() != b.fieldCount())
        return false;
    for (size_t i = 0; i < a.fieldCount(); ++i) {
        const Field& x = *a.fieldAt(i);
        const Field& y = *b.fieldAt(i);
        if (x.type() != y.type())
            return false;
        if (x.type() == FT_STRING &&
            storedTextLength(static_cast<const StringField&>(x).getValue()) !=
                storedTextLength(static_cast<const StringField&>(y).getValue())) {
            return false;
        }
        if (x.type() == FT_BYTES) {
            const uint8_t* u = static_cast<const ByteStringField&>(x).getValue();
            const uint8_t* v = static_cast<const ByteStringField&>(y).getValue();
            if ((u ? u[0] : 0) != (v ? v[0] : 0))
                return false;
        }
    }
    return true;
}

bool RecordCodec::fitsBitmap(size_t fieldCount) const {
    return bitmapSize_ <= kMaxRecordFields / 8 && fieldCount <= bitmapSize_ * 8;
}

bool RecordCodec::encode(const FieldList& record) {
    const size_t count = record.fieldCount();
    if (!fitsBitmap(count))
        return false;
    bytes_.assign(bitmapSize_, 0);
    for (size_t i = 0; i < count; ++i) {
        if (record.fieldAt(i)->isNull)
            setBit(static_cast<unsigned>(i), bytes_.data());
    }
    for (size_t i = 0; i < count; ++i) {
        const Field& field = *record.fieldAt(i);
        switch (field.type()) {
            case FT_UINT8:
                bytes_.push_back(static_cast<const UInt8Field&>(field).getValue());
                break;
            case FT_UINT16:
                putNumber(static_cast<const UInt16Field&>(field).getValue(), 2);
                break;
            case FT_UINT32:
                putNumber(static_cast<const UInt32Field&>(field).getValue(), 4);
                break;
            case FT_UINT64:
                putNumber(static_cast<const UInt64Field&>(field).getValue(), 8);
                break;
            case FT_STRING: {
                const wchar_t* text = static_cast<const StringField&>(field).getValue();
                const size_t length = storedTextLength(text);
                if (length > kMaxStoredText)
                    return false;
                putText(text, length);
                break;
            }
            case FT_BYTES: {
                const uint8_t* value = static_cast<const ByteStringField&>(field).getValue();
                const uint8_t length = value ? value[0] : 0;
                bytes_.push_back(length);
                if (length > 0)
                    bytes_.insert(bytes_.end(), value + 1, value + 1 + length);
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

void RecordCodec::putNumber(uint64_t value, size_t width) {
    if (compact_) {
        uint8_t buffer[16];
        const size_t first = encodeNumber(value, buffer, sizeof buffer);
        bytes_.insert(bytes_.end(), buffer + first, buffer + sizeof buffer);
        return;
    }
    for (size_t i = 0; i < width; ++i)
        bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void RecordCodec::putText(const wchar_t* text, size_t length) {
    putNumber(length, 2);
    const size_t start = bytes_.size();
    bytes_.resize(start + length + utf8::kMaxUnitBytes);
    char* out = reinterpret_cast<char*>(bytes_.data() + start);
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p)
        out += utf8::encodeUnit(unitOf(*p), out);
    bytes_.resize(start + length);
}

bool RecordCodec::decode(File& file, FieldList& record) {
    const size_t count = record.fieldCount();
    uint32_t available = 0;
    const uint8_t* start = file.peek(available);
    if (start == nullptr || !fitsBitmap(count))
        return false;
    // Read in place: a record is decoded without copying its bytes first.
    Input in{start, start + available};
    const uint8_t* bitmap = nullptr;
    if (!in.take(bitmapSize_, bitmap))
        return false;
    for (size_t i = 0; i < count; ++i) {
        Field& field = *record.fieldAt(i);
        const uint8_t isNull = testBit(static_cast<unsigned>(i), bitmap) ? 1 : 0;
        uint64_t value = 0;
        switch (field.type()) {
            case FT_UINT8:
                if (!readNumber(in, 1, value))
                    return false;
                static_cast<UInt8Field&>(field).setValue(static_cast<uint8_t>(value));
                break;
            case FT_UINT16:
                if (!readNumber(in, 2, value))
                    return false;
                static_cast<UInt16Field&>(field).setValue(static_cast<uint16_t>(value));
                break;
            case FT_UINT32:
                if (!readNumber(in, 4, value))
                    return false;
                static_cast<UInt32Field&>(field).setValue(static_cast<uint32_t>(value));
                break;
            case FT_UINT64:
                if (!readNumber(in, 8, value))
                    return false;
                static_cast<UInt64Field&>(field).setValue(value);
                break;
            case FT_STRING:
                if (!readText(in, static_cast<StringField&>(field)))
                    return false;
                break;
            case FT_BYTES:
                if (!readBytes(in, static_cast<ByteStringField&>(field)))
                    return false;
                break;
            default:
                return false;
        }
        field.isNull = isNull;
    }
    return file.seek(static_cast<int32_t>(in.at - start), FILE_SEEK_CURRENT);
}

bool RecordCodec::readNumber(Input& in, size_t width, uint64_t& value) {
    if (compact_ && width > 1)
        return readVarNumber(in, value);
    const uint8_t* bytes = nullptr;
    if (!in.take(width, bytes))
        return false;
    value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return true;
}

bool RecordCodec::readVarNumber(Input& in, uint64_t& value) {
    value = 0;
    // A 64-bit value takes at most kEncodedNumberMax bytes; a longer run is damage.
    for (size_t i = 0; i < kEncodedNumberMax; ++i) {
        const uint8_t* byte = nullptr;
        if (!in.take(1, byte))
            return false;
        value = (value << 7) | (*byte >> 1);
        if ((*byte & 1) == 0)
            return true;
    }
    return false;
}

bool RecordCodec::readText(Input& in, StringField& field) {
    uint64_t stored = 0;
    if (!readNumber(in, 2, stored))
        return false;
    const auto length = static_cast<uint16_t>(stored);
    const uint8_t* p = nullptr;
    if (!in.take(length, p))
        return false;
    if (wide_.size() < static_cast<size_t>(length) + 1)
        wide_.resize(static_cast<size_t>(length) + 1);
    const uint8_t* end = p + length;
    size_t units = 0;
    // A stored zero unit ends the text, as it does for every reader of the field.
    size_t textLength = SIZE_MAX;
    while (p < end) {
        uint32_t unit;
        p += utf8::decodeUnit(p, end, &unit);
        if (unit == 0 && textLength == SIZE_MAX)
            textLength = units;
        wide_[units++] = static_cast<wchar_t>(unit);
    }
    wide_[units] = L'\0';
    field.setValue(wide_.data(), textLength == SIZE_MAX ? units : textLength);
    return true;
}

bool RecordCodec::readBytes(Input& in, ByteStringField& field) {
    // Its length byte and that many bytes, handed over together.
    const uint8_t* prefixed = nullptr;
    const uint8_t* bytes = nullptr;
    if (!in.take(1, prefixed) || !in.take(*prefixed, bytes))
        return false;
    field.setValue(prefixed);
    return true;
}
