#include "recordset.h"

#include "recordcursor.h"

namespace {

// Applies use to cursor, or gives fallback when the set has ended (null).
template <typename Result, typename Use>
Result withCursor(RecordCursor* cursor, Result fallback, Use use) {
    return cursor ? use(*cursor) : fallback;
}

template <typename FieldClass>
auto numberOf(RecordCursor* handle, const wchar_t* name, int32_t type) {
    using Value = decltype(std::declval<FieldClass>().getValue());
    return withCursor(handle, Value{0}, [&](RecordCursor& cursor) {
        const Field* field = cursor.field(name, type);
        return field ? static_cast<const FieldClass*>(field)->getValue() : Value{0};
    });
}

template <typename FieldClass, typename Value>
bool setField(RecordCursor* handle, const wchar_t* name, int32_t type, Value value) {
    return withCursor(handle, false, [&](RecordCursor& cursor) {
        Field* field = cursor.field(name, type);
        if (field == nullptr)
            return false;
        static_cast<FieldClass*>(field)->setValue(value);
        return true;
    });
}

}  // namespace

bool RecordSet::select(CriteriaEvaluator* criteria, bool caseSensitive) {
    return withCursor(cursor(), false, [&](RecordCursor& cursor) {
        cursor.select(criteria, caseSensitive);
        return true;
    });
}

bool RecordSet::moveFirst() {
    return withCursor(cursor(), false, [](RecordCursor& cursor) { return cursor.moveFirst(); });
}

bool RecordSet::moveNext() {
    return withCursor(cursor(), false, [](RecordCursor& cursor) { return cursor.moveNext(); });
}

bool RecordSet::endedOnDamage() const {
    return withCursor(cursor(), false, [](RecordCursor& cursor) { return cursor.endedOnDamage(); });
}

const wchar_t* RecordSet::getString(const wchar_t* fieldName) const {
    return withCursor(cursor(), static_cast<const wchar_t*>(nullptr), [&](RecordCursor& cursor) {
        const Field* field = cursor.field(fieldName, FT_STRING);
        return field ? static_cast<const StringField*>(field)->getValue() : nullptr;
    });
}

uint8_t RecordSet::getUInt8(const wchar_t* fieldName) const {
    return numberOf<UInt8Field>(cursor(), fieldName, FT_UINT8);
}

uint16_t RecordSet::getUInt16(const wchar_t* fieldName) const {
    return numberOf<UInt16Field>(cursor(), fieldName, FT_UINT16);
}

uint32_t RecordSet::getUInt32(const wchar_t* fieldName) const {
    return numberOf<UInt32Field>(cursor(), fieldName, FT_UINT32);
}

uint64_t RecordSet::getUInt64(const wchar_t* fieldName) const {
    return numberOf<UInt64Field>(cursor(), fieldName, FT_UINT64);
}

bool RecordSet::setString(const wchar_t* fieldName, const wchar_t* text) {
    return setField<StringField>(cursor(), fieldName, FT_STRING, text);
}

bool RecordSet::setUInt32(const wchar_t* fieldName, uint32_t value) {
    return setField<UInt32Field>(cursor(), fieldName, FT_UINT32, value);
}

bool RecordSet::setUInt64(const wchar_t* fieldName, uint64_t value) {
    return setField<UInt64Field>(cursor(), fieldName, FT_UINT64, value);
}

bool RecordSet::addRecord() {
    return withCursor(cursor(), false, [](RecordCursor& cursor) { return cursor.addRecord(); });
}

bool RecordSet::updateRecord() {
    return withCursor(cursor(), false, [](RecordCursor& cursor) { return cursor.updateRecord(); });
}

bool RecordSet::removeRecord() {
    return withCursor(cursor(), false, [](RecordCursor& cursor) { return cursor.removeRecord(); });
}
