#include "syntaxops.h"

#include "patternset.h"
#include "syntaxlimits.h"
#include "syntaxtoken.h"
#include "text/strutil.h"

namespace syntax {

bool applyArithmetic(int64_t code, int64_t left, int64_t right, int64_t& result) {
    // Unsigned arithmetic wraps without undefined behaviour; C++20 converts back modulo 2^64.
    const uint64_t l = static_cast<uint64_t>(left);
    const uint64_t r = static_cast<uint64_t>(right);
    switch (code) {
        case OpAdd:
            result = static_cast<int64_t>(l + r);
            return true;
        case OpSub:
            result = static_cast<int64_t>(l - r);
            return true;
        case OpMul:
            result = static_cast<int64_t>(l * r);
            return true;
        case OpDiv:
            if (right == 0)
                result = 0;
            else if (right == -1)
                result = negate(left);  // the smallest number divided by -1 wraps to itself
            else
                result = left / right;
            return true;
        case OpBitAnd:
            result = static_cast<int64_t>(l & r);
            return true;
        case OpBitOr:
            result = static_cast<int64_t>(l | r);
            return true;
        default:
            return false;
    }
}

int64_t negate(int64_t n) {
    return static_cast<int64_t>(0 - static_cast<uint64_t>(n));
}

namespace {

bool relationHolds(int64_t code, int order, bool equal) {
    switch (code) {
        case OpRelEq:
            return equal;
        case OpRelNe:
            return !equal;
        case OpRelGe:
            return order >= 0;
        case OpRelLe:
            return order <= 0;
        case OpRelGt:
            return order > 0;
        default:  // OpRelLt
            return order < 0;
    }
}

}  // namespace

bool compareValues(int64_t code, SyntaxValue& left, const SyntaxValue& right, bool caseSensitive,
                   int64_t& result) {
    if (code < OpRelEq || code > OpRelNe)
        return false;
    const bool equality = code == OpRelEq || code == OpRelNe;
    if (left.type == SyntaxValue::NUMERIC) {
        const int order = left.number < right.number ? -1 : left.number > right.number ? 1 : 0;
        result = relationHolds(code, order, order == 0) ? 1 : 0;
        return true;
    }
    if (equality && right.patternSet != nullptr) {
        toLower(left.mutableText());
        const bool member = right.patternSet->matches(left.text(), left.textLength());
        result = relationHolds(code, 0, member) ? 1 : 0;
        return true;
    }
    if (equality && hasWildcards(right.text())) {
        const bool match = matchWildcard(right.text(), left.text(), caseSensitive);
        result = relationHolds(code, 0, match) ? 1 : 0;
        return true;
    }
    const int order = compareText(left.text(), right.text(), caseSensitive);
    result = relationHolds(code, order, order == 0) ? 1 : 0;
    return true;
}

bool concatenate(SyntaxValue& left, const SyntaxValue& right) {
    if (left.textLength() + right.textLength() + 1 >= kMaxStringLength)
        return false;
    left.appendText(right);
    return true;
}

}  // namespace syntax
