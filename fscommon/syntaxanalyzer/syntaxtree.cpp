#include "syntaxtree.h"

#include "fieldoperand.h"
#include "syntaxops.h"

namespace {

constexpr char kLogModule[] = "fscommon/syntaxanalyzer";

}  // namespace

SyntaxTree::SyntaxTree() : log_(getRkLogFs()) {}

void SyntaxTree::reset(NodeHolder root, bool complete) {
    root_ = std::move(root);
    complete_ = complete && root_ != nullptr;
    // One right-operand value per level below the root, so that evaluation allocates nothing
    // and keeps its stack frames small.
    scratch_.resize(root_ ? static_cast<size_t>(root_->height) : 0);
}

bool SyntaxTree::evaluate(const FieldList* record, const FieldList* variables, bool caseSensitive,
                          SyntaxValue& result) {
    if (!complete_)
        return true;
    record_ = record;
    variables_ = variables;
    caseSensitive_ = caseSensitive;
    failed_ = false;
    evaluate(root_.get(), value_, 0);
    if (!failed_)
        result = value_;
    return failed_;
}

void SyntaxTree::evaluate(SyntaxNode* node, SyntaxValue& out, size_t depth) {
    out.reset();
    if (failed_ || node == nullptr)
        return;
    if (node->isLeaf()) {
        l_value(node->token, out);
        return;
    }
    evaluate(node->left.get(), out, depth + 1);
    if (failed_)
        return;
    const SyntaxToken& token = node->token;
    if (token.kind == tokLogicalOp && out.type == SyntaxValue::NUMERIC) {
        // "&&" and "||" skip their right operand when the left one decides. Only a left value of
        // exactly 1 decides "||".
        if (token.value == OpAnd && out.number == 0) {
            out.setComputedNumber(0);
            return;
        }
        if (token.value == OpOr && out.number == 1) {
            out.setComputedNumber(1);
            return;
        }
    }
    SyntaxNode* rightNode = node->right.get();
    if (rightNode != nullptr && rightNode->token.patternSet) {
        SyntaxValue& cached = rightNode->token.cachedValue;
        if (cached.patternSet == nullptr)
            evaluate(rightNode, cached, depth + 1);
        if (!failed_)
            resolve(token, out, cached);
        return;
    }
    SyntaxValue& right = scratch_[depth];
    evaluate(rightNode, right, depth + 1);
    if (!failed_)
        resolve(token, out, right);
}

void SyntaxTree::l_value(const SyntaxToken& token, SyntaxValue& value) {
    switch (token.kind) {
        case tokNumber:
            value.number = token.value;
            return;
        case tokString:
            value.type = SyntaxValue::STRING;
            value.setText(token.text.c_str(), token.text.size());
            value.patternSet = token.patternSet.get();
            return;
        case tokField:
        case tokVariable: {
            const FieldList* source = token.kind == tokField ? record_ : variables_;
            switch (syntax::readOperand(source, token.text.c_str(), value)) {
                case syntax::OperandRead::Ok:
                    return;
                case syntax::OperandRead::NotFound:
                    LOG_TRACE(log_, "SyntaxTree::l_value - variable specified not found!\n");
                    break;
                case syntax::OperandRead::TooLong:
                    LOG_TRACE(log_, "SyntaxTree::l_value - string space not available\n");
                    break;
                case syntax::OperandRead::UnknownType:
                    break;
            }
            failed_ = true;
            return;
        }
        default:  // the empty right child of a unary operator
            return;
    }
}

void SyntaxTree::resolve(const SyntaxToken& token, SyntaxValue& left, const SyntaxValue& right) {
    const bool numbers = left.type == SyntaxValue::NUMERIC && right.type == SyntaxValue::NUMERIC;
    switch (token.kind) {
        case tokArithOp: {
            if (token.value == OpPlus || token.value == OpMinus) {
                if (left.type != SyntaxValue::NUMERIC) {
                    failed_ = true;
                    return;
                }
                const int64_t n = left.number;
                left.setComputedNumber(token.value == OpMinus ? syntax::negate(n) : n);
                return;
            }
            if (numbers) {
                int64_t n = 0;
                if (!syntax::applyArithmetic(token.value, left.number, right.number, n)) {
                    failed_ = true;
                    return;
                }
                left.setComputedNumber(n);
                return;
            }
            if (left.type == SyntaxValue::STRING && right.type == SyntaxValue::STRING &&
                token.value == OpAdd) {
                if (!syntax::concatenate(left, right)) {
                    LOG_TRACE(log_,
                              "SyntaxTree::resolve - string space not available for "
                              "concatenation\n");
                    failed_ = true;
                    return;
                }
                left.markComputed();
                return;
            }
            // A field that changed its type since the parse: no value, but no failure either.
            left.setComputedNumber(0);
            return;
        }
        case tokLogicalOp:
            if (token.value == OpNot && left.type == SyntaxValue::NUMERIC) {
                left.setComputedNumber(left.number == 0 ? 1 : 0);
                return;
            }
            if (token.value == OpAnd && numbers) {
                left.setComputedNumber(left.number != 0 && right.number != 0 ? 1 : 0);
                return;
            }
            if (token.value == OpOr && numbers) {
                left.setComputedNumber(left.number != 0 || right.number != 0 ? 1 : 0);
                return;
            }
            failed_ = true;
            return;
        case tokRelOp: {
            if (left.type != right.type) {
                left.setComputedNumber(0);
                return;
            }
            int64_t outcome = 0;
            if (!syntax::compareValues(token.value, left, right, caseSensitive_, outcome)) {
                failed_ = true;
                return;
            }
            left.setComputedNumber(outcome);
            left.setText(nullptr);
            return;
        }
        default:
            failed_ = true;
            return;
    }
}
