#include "syntaxanalyzer.h"

#include <initializer_list>
#include <memory>

#include "fieldoperand.h"
#include "syntaxlimits.h"
#include "syntaxops.h"
#include "text/strutil.h"

// Logs the message under the calling rule's name and fails the parse.
#define PARSE_FAIL(...)               \
    do {                              \
        LOG_TRACE(log_, __VA_ARGS__); \
        failed_ = true;               \
    } while (0)

namespace {

constexpr char kLogModule[] = "fscommon/syntaxanalyzer";

bool isNumeric(const SyntaxValue& v) {
    return v.type == SyntaxValue::NUMERIC;
}

// A value read from exactly one field or variable, unchanged by any operator.
bool isBareReference(const SyntaxValue& v) {
    return v.constants == 0 && v.references == 1 && v.hasName();
}

// A value computed from literals only.
bool isConstant(const SyntaxValue& v) {
    return v.constants != 0 && v.references == 0;
}

void addProvenance(SyntaxValue& left, const SyntaxValue& right) {
    left.constants += right.constants;
    left.references += right.references;
}

// True when token is the operator kind with one of the codes.
bool isOperator(const SyntaxToken& token, int8_t kind, std::initializer_list<int64_t> codes) {
    if (token.kind != kind)
        return false;
    for (int64_t code : codes) {
        if (token.value == code)
            return true;
    }
    return false;
}

// The right operand's value of a binary rule. Values carry two inline buffers of 128 units and
// the rules recurse for every parenthesis, so they live on the heap, made when the rule reads
// its first operator: a parse happens once per criteria, the stack is what must stay small.
SyntaxValue& operandValue(std::unique_ptr<SyntaxValue>& holder) {
    if (!holder)
        holder = std::make_unique<SyntaxValue>();
    return *holder;
}

// Counts a recursive operand in and out of the nesting depth.
class NestingLevel {
  public:
    explicit NestingLevel(int& depth) : depth_(depth) { ++depth_; }
    ~NestingLevel() { --depth_; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;

  private:
    int& depth_;
};

}  // namespace

SyntaxAnalyzer::SyntaxAnalyzer() : log_(getRkLogFs()) {}

SyntaxAnalyzer::~SyntaxAnalyzer() = default;

bool SyntaxAnalyzer::parse(const wchar_t* text, const FieldList* record, const FieldList* variables,
                           SyntaxValue& result, bool caseSensitive) {
    if (text == nullptr) {
        tree_.clear();
        return true;
    }
    record_ = record;
    variables_ = variables;
    caseSensitive_ = caseSensitive;
    failed_ = false;
    clearKeyHint();
    orDepth_ = 0;
    keyHintUsable_ = true;
    nesting_ = 0;

    lexer_.setText(text);
    tree_.clear();
    NodeHolder root = makeEmptyNode();
    bExpression(result, root);
    if (!failed_) {
        lexer_.next();
        if (lexer_.getState() != SyntaxLexer::kEndOfText)
            PARSE_FAIL("SyntaxAnalyzer::parse - expected operator.\n");
    }
    tree_.reset(std::move(root), !failed_);
    return failed_;
}

bool SyntaxAnalyzer::evaluate(const FieldList* record, const FieldList* variables,
                              SyntaxValue& result, bool caseSensitive) {
    return tree_.evaluate(record, variables, caseSensitive, result);
}

bool SyntaxAnalyzer::getKeyHint(SyntaxValue& out) const {
    if (!tree_.isComplete() || !keyHintUsable_ || !keyHint_.hasName())
        return false;
    out = keyHint_;
    return true;
}

void SyntaxAnalyzer::clearKeyHint() {
    keyHint_.setName(nullptr);
    keyHint_.setText(nullptr);
    keyHint_.number = 0;
}

bool SyntaxAnalyzer::attach(const char* rule, NodeHolder& holder, NodeHolder right, Operator op) {
    if (combineNodes(holder, std::move(right), SyntaxToken(op.kind, op.code)) <=
        syntax::kMaxTreeHeight)
        return true;
    LOG_TRACE_AS(log_, rule,
                 "SyntaxAnalyzer::%s - expression deeper than %d levels, cannot parse\n", rule,
                 syntax::kMaxTreeHeight);
    failed_ = true;
    return false;
}

bool SyntaxAnalyzer::readOperator(int8_t kind, std::initializer_list<int64_t> codes, Operator& op) {
    const SyntaxToken& token = lexer_.next();
    if (!isOperator(token, kind, codes)) {
        lexer_.unget();
        return false;
    }
    op = {token.kind, token.value};
    return true;
}

void SyntaxAnalyzer::offerKeyHint(const SyntaxValue& left, const SyntaxValue& right) {
    if (keyHint_.hasName() || left.type != right.type)
        return;
    const bool text = right.type == SyntaxValue::STRING;
    const SyntaxValue* reference = nullptr;
    const SyntaxValue* constant = nullptr;
    if (isBareReference(left) && isConstant(right)) {
        // A constant holding wildcards, or a pattern set, is a match, not a key.
        if (text && (hasWildcards(right.text()) || right.patternSet != nullptr))
            return;
        reference = &left;
        constant = &right;
    } else if (isConstant(left) && isBareReference(right)) {
        // The right operand of a string equality is the pattern: a field value such as "a*"
        // matches the constant "a" without equalling it, so only numbers give a key here.
        if (text)
            return;
        reference = &right;
        constant = &left;
    } else {
        return;
    }
    keyHint_.setName(reference->name());
    keyHint_.type = constant->type;
    if (constant->type == SyntaxValue::NUMERIC)
        keyHint_.number = constant->number;
    else
        keyHint_.setText(constant->text(), constant->textLength());
}

void SyntaxAnalyzer::bExpression(SyntaxValue& result, NodeHolder& holder) {
    if (failed_)
        return;
    const bool hintEmptyOnEntry = !keyHint_.hasName();
    bTerm(result, holder);
    std::unique_ptr<SyntaxValue> rightValue;
    while (!failed_) {
        Operator op;
        if (!readOperator(tokLogicalOp, {OpOr}, op))
            return;
        SyntaxValue& right = operandValue(rightValue);
        // A hint found in either operand of "||" does not hold for every matching record.
        keyHintUsable_ = false;
        ++orDepth_;
        NodeHolder rightTree = makeEmptyNode();
        bTerm(right, rightTree);
        --orDepth_;
        if (hintEmptyOnEntry)
            clearKeyHint();
        if (failed_)
            return;
        if (!isNumeric(result) || !isNumeric(right)) {
            PARSE_FAIL(
                "SyntaxAnalyzer::bExpression - bExpression operands of different types or not "
                "NUMERIC\n");
            return;
        }
        if (!attach(__func__, holder, std::move(rightTree), op))
            return;
        addProvenance(result, right);
        result.setComputedNumber(result.number != 0 || right.number != 0 ? 1 : 0);
    }
}

void SyntaxAnalyzer::bTerm(SyntaxValue& result, NodeHolder& holder) {
    if (failed_)
        return;
    relation(result, holder);
    std::unique_ptr<SyntaxValue> rightValue;
    while (!failed_) {
        Operator op;
        if (!readOperator(tokLogicalOp, {OpAnd}, op))
            return;
        SyntaxValue& right = operandValue(rightValue);
        NodeHolder rightTree = makeEmptyNode();
        relation(right, rightTree);
        // Outside any "||" the conjunction constrains every match again.
        keyHintUsable_ = orDepth_ == 0;
        if (failed_)
            return;
        if (!isNumeric(result) || !isNumeric(right)) {
            PARSE_FAIL(
                "SyntaxAnalyzer::bTerm - bTerm operands of different types or not NUMERIC\n");
            return;
        }
        if (!attach(__func__, holder, std::move(rightTree), op))
            return;
        addProvenance(result, right);
        result.setComputedNumber(result.number != 0 && right.number != 0 ? 1 : 0);
    }
}

void SyntaxAnalyzer::relation(SyntaxValue& result, NodeHolder& holder) {
    if (failed_)
        return;
    const bool hintEmptyOnEntry = !keyHint_.hasName();
    expression(result, holder);
    std::unique_ptr<SyntaxValue> rightValue;
    while (!failed_) {
        Operator op;
        if (!readOperator(tokRelOp, {OpRelEq, OpRelGe, OpRelLe, OpRelGt, OpRelLt, OpRelNe}, op))
            return;
        SyntaxValue& right = operandValue(rightValue);
        NodeHolder rightTree = makeEmptyNode();
        expression(right, rightTree);
        if (failed_)
            return;
        if (result.type != right.type) {
            PARSE_FAIL("SyntaxAnalyzer::relation - relation operands of different types!\n");
            return;
        }
        if (!attach(__func__, holder, std::move(rightTree), op))
            return;
        // A hint found inside an operand stops constraining the records once that operand's
        // truth value is itself compared (as in "([A]==1)==0").
        if (hintEmptyOnEntry)
            clearKeyHint();
        if (op.code == OpRelEq)
            offerKeyHint(result, right);
        int64_t outcome = 0;
        if (!syntax::compareValues(op.code, result, right, caseSensitive_, outcome)) {
            PARSE_FAIL("SyntaxAnalyzer::relation - OpRelXXX unknown!\n");
            return;
        }
        const bool referenced = result.references > 0 || right.references > 0;
        result.references = referenced ? 1 : 0;
        result.constants = referenced ? 0 : 1;
        result.setComputedNumber(outcome);
        result.setText(nullptr);
    }
}

void SyntaxAnalyzer::expression(SyntaxValue& result, NodeHolder& holder) {
    if (failed_)
        return;
    const bool hintEmptyOnEntry = !keyHint_.hasName();
    term(result, holder);
    std::unique_ptr<SyntaxValue> rightValue;
    while (!failed_) {
        Operator op;
        if (!readOperator(tokArithOp, {OpAdd, OpSub, OpBitOr}, op))
            return;
        SyntaxValue& right = operandValue(rightValue);
        NodeHolder rightTree = makeEmptyNode();
        term(right, rightTree);
        if (failed_)
            return;
        if (result.type != right.type) {
            PARSE_FAIL(
                "SyntaxAnalyzer::expression - expression operands of different types or not "
                "NUMERIC\n");
            return;
        }
        if (result.type == SyntaxValue::STRING && op.code != OpAdd) {
            PARSE_FAIL("SyntaxAnalyzer::expression - operator '%s' not permitted on string type\n",
                       op.code == OpSub ? "-" : "|");
            return;
        }
        if (!attach(__func__, holder, std::move(rightTree), op))
            return;
        // A comparison used as a number no longer constrains the records.
        if (hintEmptyOnEntry)
            clearKeyHint();
        if (result.type == SyntaxValue::STRING) {
            if (!syntax::concatenate(result, right)) {
                PARSE_FAIL(
                    "SyntaxAnalyzer::expression - string space not available for "
                    "concatenation\n");
                return;
            }
            result.markComputed();
        } else {
            int64_t n = 0;
            if (!syntax::applyArithmetic(op.code, result.number, right.number, n)) {
                PARSE_FAIL("SyntaxAnalyzer::expression - OpXXX unknown!\n");
                return;
            }
            result.setComputedNumber(n);
        }
        addProvenance(result, right);
    }
}

void SyntaxAnalyzer::term(SyntaxValue& result, NodeHolder& holder) {
    if (failed_)
        return;
    const bool hintEmptyOnEntry = !keyHint_.hasName();
    factor(result, holder);
    std::unique_ptr<SyntaxValue> rightValue;
    while (!failed_) {
        Operator op;
        if (!readOperator(tokArithOp, {OpMul, OpDiv, OpBitAnd}, op))
            return;
        SyntaxValue& right = operandValue(rightValue);
        NodeHolder rightTree = makeEmptyNode();
        factor(right, rightTree);
        if (failed_)
            return;
        if (!isNumeric(result) || !isNumeric(right)) {
            PARSE_FAIL("SyntaxAnalyzer::term - term operands of different types or not NUMERIC\n");
            return;
        }
        if (!attach(__func__, holder, std::move(rightTree), op))
            return;
        if (hintEmptyOnEntry)
            clearKeyHint();
        int64_t n = 0;
        if (!syntax::applyArithmetic(op.code, result.number, right.number, n)) {
            PARSE_FAIL("SyntaxAnalyzer::term - OpXXX unknown!\n");
            return;
        }
        result.setComputedNumber(n);
        addProvenance(result, right);
    }
}

void SyntaxAnalyzer::factor(SyntaxValue& result, NodeHolder& holder) {
    if (failed_)
        return;
    result.reset();
    const SyntaxToken& token = lexer_.next();
    switch (token.kind) {
        case tokNumber:
            holder->token = token;
            result.number = token.value;
            return;
        case tokString:
            holder->token = token;
            result.type = SyntaxValue::STRING;
            result.setText(token.text.c_str(), token.text.size());
            result.patternSet = holder->token.patternSet.get();
            return;
        case tokField:
        case tokVariable: {
            holder->token = token;
            const SyntaxToken& leaf = holder->token;
            result.constants = 0;
            result.references = 1;
            result.setName(leaf.text.c_str());
            const FieldList* source = leaf.kind == tokField ? record_ : variables_;
            switch (syntax::readOperand(source, leaf.text.c_str(), result)) {
                case syntax::OperandRead::Ok:
                    return;
                case syntax::OperandRead::NotFound:
                    PARSE_FAIL("SyntaxAnalyzer::factor - variable specified not found!\n");
                    return;
                case syntax::OperandRead::TooLong:
                    PARSE_FAIL("SyntaxAnalyzer::factor - string space not available\n");
                    return;
                case syntax::OperandRead::UnknownType:
                    PARSE_FAIL("SyntaxAnalyzer::factor - typeXXX unknown!\n");
                    return;
            }
            return;
        }
        case tokParen: {
            // A ")" where an operand belongs is consumed and leaves the operand NUMERIC 0.
            if (token.value != ParenOpen)
                return;
            if (!mayNest())
                return;
            NestingLevel level(nesting_);
            bExpression(result, holder);
            if (failed_)
                return;
            if (!isOperator(lexer_.next(), tokParen, {ParenClose}))
                PARSE_FAIL("SyntaxAnalyzer::factor - expected ')'\n");
            return;
        }
        case tokLogicalOp:
            if (token.value != OpNot) {
                PARSE_FAIL("SyntaxAnalyzer::factor - expected '!'\n");
                return;
            }
            unary(result, holder, tokLogicalOp, OpNot);
            return;
        case tokArithOp:
            if (token.value != OpAdd && token.value != OpSub) {
                PARSE_FAIL("SyntaxAnalyzer::factor - expected '+' or '-'!\n");
                return;
            }
            unary(result, holder, tokArithOp, token.value == OpAdd ? OpPlus : OpMinus);
            return;
        default:  // relational operators, punctuation, nothing recognised, end of text
            PARSE_FAIL("SyntaxAnalyzer::factor - unexpected sequence!\n");
            return;
    }
}

bool SyntaxAnalyzer::mayNest() {
    if (nesting_ < syntax::kMaxNesting)
        return true;
    LOG_TRACE_AS(log_, "factor",
                 "SyntaxAnalyzer::factor - nesting deeper than %d levels, cannot parse\n",
                 syntax::kMaxNesting);
    failed_ = true;
    return false;
}

// The operand of "!" or a sign; logged as factor, the rule it belongs to.
void SyntaxAnalyzer::unary(SyntaxValue& result, NodeHolder& holder, int64_t kind, int64_t code) {
    static constexpr char kRule[] = "factor";
    if (!mayNest())
        return;
    const bool hintEmptyBefore = !keyHint_.hasName();
    {
        NestingLevel level(nesting_);
        factor(result, holder);
    }
    // The negation of a comparison does not constrain the records the way the comparison does.
    if (code == OpNot && hintEmptyBefore)
        clearKeyHint();
    if (failed_)
        return;
    if (!isNumeric(result)) {
        LOG_TRACE_AS(log_, kRule, "SyntaxAnalyzer::factor - factor operand is not NUMERIC\n");
        failed_ = true;
        return;
    }
    if (!attach(kRule, holder, makeEmptyNode(), Operator{static_cast<int8_t>(kind), code}))
        return;
    // The result is computed, so it no longer stands for its field: "-[A]==5" is no key for A.
    if (code == OpNot)
        result.setComputedNumber(result.number == 0 ? 1 : 0);
    else
        result.setComputedNumber(code == OpMinus ? syntax::negate(result.number) : result.number);
}
