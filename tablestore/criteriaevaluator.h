// A criteria text bound to the record being tested (for [FIELD] references) and to a list of
// variables (for lower-case names). The text is parsed once, at its first evaluation or key-hint
// collection; every later evaluation applies the parsed tree to the record and the variable
// values of the moment, so callers change variables between queries without touching the
// evaluator. One evaluator serves one walk at a time, on one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "field.h"
#include "syntaxanalyzer.h"
#include "syntaxvalue.h"

class CriteriaEvaluator {
  public:
    // Copies text. An evaluator made from a null text is not valid: it binds nothing and every
    // evaluation fails.
    explicit CriteriaEvaluator(const wchar_t* text);
    ~CriteriaEvaluator();
    CriteriaEvaluator(const CriteriaEvaluator&) = delete;
    CriteriaEvaluator& operator=(const CriteriaEvaluator&) = delete;

    bool isValid() const { return analyzer_ != nullptr; }
    const wchar_t* getText() const { return isValid() ? text_.c_str() : nullptr; }

    // Binds the record or the variables used when evaluate is given none; false when not valid
    // or for null. Neither is owned: each must outlive its use. A record set binds its own
    // record buffer when it selects these criteria.
    bool setRecord(const FieldList* record);
    bool setVariables(const FieldList* variables);

    // Sets the key hint: value's name is the field and its content the constant that every
    // matching record holds. The caller vouches for it: records that do not hold it may be
    // skipped by a walk through the field's index. False when not valid.
    bool setKeyHint(const SyntaxValue& value);
    // The key hint set, or else the one the text yields (collected once, parsing the text with
    // the bound record and variables); null when there is none.
    const SyntaxValue* getKeyHint();

    // Evaluates the criteria against record and variables (null: the bound ones). -1 when not
    // valid or when parsing or evaluating fails; otherwise the low 32 bits of the result, as a
    // signed number.
    int32_t evaluate(const FieldList* record, const FieldList* variables, bool caseSensitive);
    // True when the criteria hold for record with the bound variables: the evaluation succeeded
    // and gave a number other than 0 (any of its 64 bits, so that a true value whose low half is
    // 0, or which is negative, still matches).
    bool matches(const FieldList* record, bool caseSensitive);

  private:
    // Parses on first use, then evaluates the kept tree; false on failure.
    bool run(const FieldList* record, const FieldList* variables, bool caseSensitive);

    std::unique_ptr<SyntaxAnalyzer> analyzer_;
    std::wstring text_;
    bool needsParse_ = true;
    // Empty until set or collected; once collected without a hint it stays empty-named.
    std::optional<SyntaxValue> keyHint_;
    SyntaxValue result_;
    const FieldList* record_ = nullptr;
    const FieldList* variables_ = nullptr;
};
