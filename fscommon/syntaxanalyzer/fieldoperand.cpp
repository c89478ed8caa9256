#include "fieldoperand.h"

#include <cwchar>

#include "syntaxlimits.h"

namespace syntax {

namespace {

template <typename FieldClass>
void readNumber(const Field& field, SyntaxValue& value) {
    value.type = SyntaxValue::NUMERIC;
    // Unsigned to signed: the 64-bit field keeps all its bits.
    value.number = static_cast<int64_t>(static_cast<const FieldClass&>(field).getValue());
}

}  // namespace

OperandRead readOperand(const FieldList* fields, const wchar_t* name, SyntaxValue& value) {
    const Field* field = fields ? fields->findField(name) : nullptr;
    if (field == nullptr)
        return OperandRead::NotFound;
    switch (field->type()) {
        case FT_UINT8:
            readNumber<UInt8Field>(*field, value);
            return OperandRead::Ok;
        case FT_UINT16:
            readNumber<UInt16Field>(*field, value);
            return OperandRead::Ok;
        case FT_UINT32:
            readNumber<UInt32Field>(*field, value);
            return OperandRead::Ok;
        case FT_UINT64:
            readNumber<UInt64Field>(*field, value);
            return OperandRead::Ok;
        case FT_STRING: {
            const auto& string = static_cast<const StringField&>(*field);
            const wchar_t* text = string.getValue();
            const size_t length = text ? string.length() : 0;
            if (length >= kMaxStringLength)
                return OperandRead::TooLong;
            value.type = SyntaxValue::STRING;
            value.setText(text ? text : L"", length);
            return OperandRead::Ok;
        }
        default:
            return OperandRead::UnknownType;
    }
}

}  // namespace syntax
