// Helpers of the criteria-language tests: field lists with values, a log captured in a file, and
// one-call parse and evaluate.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "field.h"
#include "syntaxanalyzer.h"
#include "syntaxvalue.h"
#include "testsupport.h"

namespace criteriatest {

// Sets the field called name to a number (any number type) or a text.
void setNumber(FieldList& fields, const wchar_t* name, uint64_t value);
void setText(FieldList& fields, const wchar_t* name, const std::wstring& text);

// A field list with the given (name, type) fields.
FieldList makeFields(const std::vector<std::pair<const wchar_t*, int32_t>>& fields);

// What a parse or evaluation gave: failure, or the type and content of the value.
struct Outcome {
    bool failed = true;
    SyntaxValue::Type type = SyntaxValue::NUMERIC;
    int64_t number = 0;
    std::wstring text;

    bool operator==(const Outcome& other) const;
};
std::ostream& operator<<(std::ostream& out, const Outcome& outcome);
Outcome outcomeOf(bool failed, const SyntaxValue& value);

// Parses text with a fresh analyzer.
Outcome parseText(const std::wstring& text, const FieldList* record = nullptr,
                  const FieldList* variables = nullptr, bool caseSensitive = false);
int64_t parseNumber(const std::wstring& text, const FieldList* record = nullptr,
                    const FieldList* variables = nullptr, bool caseSensitive = false);

// The log goes to a file for the test; tests read back what the criteria language wrote.
class CriteriaLog : public ::testing::Test {
  protected:
    // The messages written since the last call, each as "function: text".
    std::vector<std::string> takeMessages();
    // True when exactly one message was written since the last call and it was message (with
    // its trailing newline) under function.
    ::testing::AssertionResult loggedOnly(const char* function, const std::string& message);

  private:
    testsupport::LogCapture capture_;
    size_t seen_ = 0;
};

}  // namespace criteriatest
