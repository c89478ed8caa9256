// The one value type of the criteria language: a signed 64-bit number or a wide string. There is
// no boolean: a number is true when it is not zero, and logical and relational operators give 0
// or 1. Besides its content a value records where it came from (the field or variable it was read
// from, and how many constant and reference operands went into it); the parser uses that to find
// an equality that can pick an index (the key hint).
#pragma once

#include <cstdint>

#include "inlinetext.h"

class PatternSet;

class SyntaxValue {
  public:
    enum Type : uint8_t { NUMERIC = 0, STRING = 1 };

    // Strings of fewer than this many units are held inside the value.
    static constexpr size_t kInlineUnits = InlineText::kInlineUnits;

    // NUMERIC 0, one constant, no reference, empty text and name, no pattern set.
    SyntaxValue() = default;

    // The text of a STRING value; never null.
    const wchar_t* text() const { return text_.c_str(); }
    size_t textLength() const { return text_.size(); }
    // Writable text, for lower-casing in place.
    wchar_t* mutableText() { return text_.data(); }
    // The field or variable the value was read from; empty for computed values. Never null.
    const wchar_t* name() const { return name_.c_str(); }
    bool hasName() const { return !name_.empty(); }
    bool textIsInline() const { return text_.isInline(); }
    bool nameIsInline() const { return name_.isInline(); }

    // Copies s; null leaves the text empty.
    void setText(const wchar_t* s) { text_.assign(s); }
    void setText(const wchar_t* s, size_t length) { text_.assign(s, length); }
    void appendText(const SyntaxValue& other) { text_.append(other.text(), other.textLength()); }
    void setName(const wchar_t* s) { name_.assign(s); }

    // Back to the state of a new value.
    void reset();
    // Marks the value as the result of an operator: no name, no pattern set.
    void markComputed();
    // Makes this value the NUMERIC result n of an operator.
    void setComputedNumber(int64_t n);

    Type type = NUMERIC;
    int32_t constants = 1;
    int32_t references = 0;
    int64_t number = 0;
    // Set only on the value of a brace literal; not owned (the parsed tree keeps the set).
    const PatternSet* patternSet = nullptr;

  private:
    InlineText text_;
    InlineText name_;
};
