#include "indexkey.h"

#include "text/casemap.h"
#include "text/strutil.h"

bool IndexKey::assign(const Field& field) {
    switch (field.type()) {
        case FT_UINT8:
            assignNumber(static_cast<const UInt8Field&>(field).getValue());
            return true;
        case FT_UINT16:
            assignNumber(static_cast<const UInt16Field&>(field).getValue());
            return true;
        case FT_UINT32:
            assignNumber(static_cast<const UInt32Field&>(field).getValue());
            return true;
        case FT_UINT64:
            assignNumber(static_cast<const UInt64Field&>(field).getValue());
            return true;
        case FT_STRING:
            assignText(static_cast<const StringField&>(field).getValue());
            return true;
        default:
            return false;
    }
}

void IndexKey::assignNumber(uint64_t value) {
    wchar_t digits[kDecimalBufferSize];
    text_.assign(toDecimal(static_cast<uint32_t>(value), digits));
}

void IndexKey::assignText(const wchar_t* text) {
    text_.assign(text ? text : L"");
    // Through lower case first, as comparisons without regard to case go: texts they find equal
    // then always share a key, also for letters such as the Kelvin sign, whose lower case is "k"
    // while its upper case is itself.
    for (wchar_t& c : text_)
        c = upperChar(lowerChar(c));
}

uint32_t indexBucket(const wchar_t* keyText) {
    return static_cast<uint32_t>(hashText(keyText, static_cast<int32_t>(INDEX_BUCKETS)));
}
