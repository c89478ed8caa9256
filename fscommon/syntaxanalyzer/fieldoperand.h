// Reading a criteria operand from a field list: a field reference "[NAME]" reads the record, an
// identifier reads the variables. Names match exactly (case-sensitive), the first field of a name
// wins, and the two sources never stand in for each other.
#pragma once

#include "field.h"
#include "syntaxvalue.h"

namespace syntax {

enum class OperandRead {
    Ok,
    NotFound,     // no field list, or no field of that name
    TooLong,      // a string of kMaxStringLength units or more
    UnknownType,  // a byte-string field (or any type the language has no value for)
};

// Converts the field called name of fields (which may be null) into value's content: the number
// fields zero-extended (64-bit values of 2^63 and above read as negative numbers), strings
// copied. Only type, number and text of value are changed.
OperandRead readOperand(const FieldList* fields, const wchar_t* name, SyntaxValue& value);

}  // namespace syntax
