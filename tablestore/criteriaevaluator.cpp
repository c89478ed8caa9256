#include "criteriaevaluator.h"

CriteriaEvaluator::CriteriaEvaluator(const wchar_t* text) {
    if (text == nullptr)
        return;
    text_ = text;
    analyzer_ = std::make_unique<SyntaxAnalyzer>();
}

CriteriaEvaluator::~CriteriaEvaluator() = default;

bool CriteriaEvaluator::setRecord(const FieldList* record) {
    if (!isValid() || record == nullptr)
        return false;
    record_ = record;
    return true;
}

bool CriteriaEvaluator::setVariables(const FieldList* variables) {
    if (!isValid() || variables == nullptr)
        return false;
    variables_ = variables;
    return true;
}

bool CriteriaEvaluator::setKeyHint(const SyntaxValue& value) {
    if (!isValid())
        return false;
    if (!keyHint_)
        keyHint_.emplace();
    keyHint_->type = value.type;
    keyHint_->number = value.number;
    keyHint_->setText(value.text(), value.textLength());
    keyHint_->setName(value.name());
    return true;
}

const SyntaxValue* CriteriaEvaluator::getKeyHint() {
    if (!isValid())
        return nullptr;
    if (!keyHint_) {
        if (record_ == nullptr)
            return nullptr;
        // Collected once; without a hint the empty one stays, so the text is not parsed again.
        keyHint_.emplace();
        if (needsParse_) {
            SyntaxValue discarded;
            analyzer_->parse(text_.c_str(), record_, variables_, discarded, true);
            needsParse_ = false;
        }
        SyntaxValue found;
        // A hint named like a bound variable may stand for the variable, not for the field of
        // that name, and then says nothing about the records.
        if (analyzer_->getKeyHint(found) &&
            (variables_ == nullptr || variables_->findField(found.name()) == nullptr)) {
            setKeyHint(found);
        }
    }
    return keyHint_->hasName() ? &*keyHint_ : nullptr;
}

bool CriteriaEvaluator::run(const FieldList* record, const FieldList* variables,
                            bool caseSensitive) {
    if (!isValid())
        return false;
    if (record == nullptr)
        record = record_;
    if (variables == nullptr)
        variables = variables_;
    // The analyzer answers true on failure.
    bool failed = false;
    if (needsParse_) {
        failed = analyzer_->parse(text_.c_str(), record, variables, result_, caseSensitive);
        needsParse_ = false;
    } else {
        failed = analyzer_->evaluate(record, variables, result_, caseSensitive);
    }
    return !failed;
}

int32_t CriteriaEvaluator::evaluate(const FieldList* record, const FieldList* variables,
                                    bool caseSensitive) {
    if (!run(record, variables, caseSensitive))
        return -1;
    return static_cast<int32_t>(static_cast<uint32_t>(result_.number));
}

bool CriteriaEvaluator::matches(const FieldList* record, bool caseSensitive) {
    return run(record, nullptr, caseSensitive) && result_.type == SyntaxValue::NUMERIC &&
           result_.number != 0;
}
