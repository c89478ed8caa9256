#include "syntaxlexer.h"

#include <algorithm>

#include "strutil.h"
#include "syntaxlimits.h"

namespace {

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

bool isLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Longest literal text that parseDecimal64 reads.
constexpr size_t kNumberDigits = 23;

}  // namespace

void SyntaxLexer::setText(const wchar_t* text) {
    token_ = SyntaxToken();
    if (text == nullptr) {
        buffer_.clear();
        hasText_ = false;
        cursor_ = tokenStart_ = 0;
        state_ = kLexError;
        return;
    }
    buffer_.assign(text);
    hasText_ = true;
    cursor_ = tokenStart_ = 0;
    state_ = kTokenRead;
}

void SyntaxLexer::setNone() {
    token_.kind = tokNone;
    token_.text.clear();
    token_.value = 0;
    token_.patternSet.reset();
}

const SyntaxToken& SyntaxLexer::next() {
    tokenStart_ = cursor_;
    if (!hasText_) {
        setNone();
        state_ = kLexError;
        return token_;
    }
    // The end is seen only at the cursor itself: trailing blanks are skipped by the recognisers,
    // which then find nothing, so a text ending in a blank ends in an error.
    if (at(cursor_) == L'\0') {
        setNone();
        state_ = kEndOfText;
        return token_;
    }
    if (braceLiteral() || number() || punctuation() || identifier() || fieldReference() ||
        quotedString() || relationalOperator() || logicalOperator() || arithmeticOperator() ||
        parenthesis()) {
        state_ = kTokenRead;
        return token_;
    }
    setNone();
    state_ = kLexError;
    return token_;
}

void SyntaxLexer::skipBlanks() {
    while (at(cursor_) == L' ')
        ++cursor_;
}

bool SyntaxLexer::braceLiteral() {
    skipBlanks();
    if (at(cursor_) != L'{')
        return false;
    const size_t close = buffer_.find(L'}', cursor_ + 1);
    if (close == std::wstring::npos)
        return false;
    const size_t begin = cursor_ + 1;
    const size_t length = close - begin;
    if (length >= syntax::kMaxStringLength)
        return false;
    auto set = std::make_shared<PatternSet>();
    set->fill(std::wstring_view(buffer_).substr(begin, length));
    set->build(false);
    token_.kind = tokString;
    token_.text.assign(buffer_.data() + begin, length);
    token_.value = 0;
    token_.patternSet = std::move(set);
    cursor_ = close + 1;
    return true;
}

bool SyntaxLexer::number() {
    skipBlanks();
    const size_t begin = cursor_;
    size_t pos = begin;
    if (!isDigit(at(pos)) && !(at(pos) == L'.' && isDigit(at(pos + 1))))
        return false;
    while (isDigit(at(pos)))
        ++pos;
    if (at(pos) == L'.') {
        ++pos;
        if (!isDigit(at(pos)))
            return false;
        while (isDigit(at(pos)))
            ++pos;
    }
    // parseDecimal64 reads at most the first 23 characters and gives 0 when one of them is not a
    // digit, so a literal with a fraction is 0. Beyond the signed 64-bit range it wraps modulo
    // 2^64; the language's arithmetic wraps the same way.
    wchar_t literal[kNumberDigits + 1];
    const size_t length = std::min(pos - begin, kNumberDigits);
    buffer_.copy(literal, length, begin);
    literal[length] = L'\0';
    token_.kind = tokNumber;
    token_.text.clear();
    token_.value = parseDecimal64(literal);
    token_.patternSet.reset();
    cursor_ = pos;
    return true;
}

bool SyntaxLexer::setOperator(int8_t kind, int64_t code, size_t length) {
    token_.kind = kind;
    token_.value = code;
    token_.patternSet.reset();
    cursor_ += length;
    return true;
}

bool SyntaxLexer::punctuation() {
    skipBlanks();
    switch (at(cursor_)) {
        case L'.':
            return setOperator(tokPunct, 0, 1);
        case L',':
            return setOperator(tokPunct, 1, 1);
        case L';':
            return setOperator(tokPunct, 2, 1);
        default:
            return false;
    }
}

bool SyntaxLexer::identifier() {
    skipBlanks();
    if (!isLetter(at(cursor_)))
        return false;
    size_t pos = cursor_ + 1;
    while (isLetter(at(pos)) || isDigit(at(pos)))
        ++pos;
    const size_t length = pos - cursor_;
    if (length >= syntax::kMaxIdentifierLength)
        return false;
    token_.kind = tokVariable;
    token_.text.assign(buffer_.data() + cursor_, length);
    token_.value = 0;
    token_.patternSet.reset();
    cursor_ = pos;
    return true;
}

bool SyntaxLexer::fieldReference() {
    skipBlanks();
    if (at(cursor_) != L'[' || !isLetter(at(cursor_ + 1)))
        return false;
    const size_t begin = cursor_ + 1;
    size_t pos = begin + 1;
    while (isLetter(at(pos)) || isDigit(at(pos)))
        ++pos;
    if (at(pos) != L']')
        return false;
    const size_t length = pos - begin;
    if (length >= syntax::kMaxStringLength)
        return false;
    token_.kind = tokField;
    token_.text.assign(buffer_.data() + begin, length);
    token_.value = 0;
    token_.patternSet.reset();
    cursor_ = pos + 1;
    return true;
}

bool SyntaxLexer::quotedString() {
    skipBlanks();
    if (at(cursor_) != L'"')
        return false;
    const size_t close = buffer_.find(L'"', cursor_ + 1);
    if (close == std::wstring::npos)
        return false;
    const size_t begin = cursor_ + 1;
    const size_t length = close - begin;
    if (length >= syntax::kMaxStringLength)
        return false;
    token_.kind = tokString;
    token_.text.assign(buffer_.data() + begin, length);
    token_.value = 0;
    token_.patternSet.reset();
    cursor_ = close + 1;
    return true;
}

bool SyntaxLexer::relationalOperator() {
    skipBlanks();
    const wchar_t c = at(cursor_);
    const wchar_t d = c == L'\0' ? L'\0' : at(cursor_ + 1);
    if (c == L'=' && d == L'=')
        return setOperator(tokRelOp, OpRelEq, 2);
    if (c == L'>' && d == L'=')
        return setOperator(tokRelOp, OpRelGe, 2);
    if (c == L'<' && d == L'=')
        return setOperator(tokRelOp, OpRelLe, 2);
    if (c == L'>')
        return setOperator(tokRelOp, OpRelGt, 1);
    if (c == L'<')
        return setOperator(tokRelOp, OpRelLt, 1);
    if (c == L'!' && d == L'=')
        return setOperator(tokRelOp, OpRelNe, 2);
    return false;
}

bool SyntaxLexer::logicalOperator() {
    skipBlanks();
    const wchar_t c = at(cursor_);
    const wchar_t d = c == L'\0' ? L'\0' : at(cursor_ + 1);
    if (c == L'&' && d == L'&')
        return setOperator(tokLogicalOp, OpAnd, 2);
    if (c == L'|' && d == L'|')
        return setOperator(tokLogicalOp, OpOr, 2);
    if (c == L'!')
        return setOperator(tokLogicalOp, OpNot, 1);
    return false;
}

bool SyntaxLexer::arithmeticOperator() {
    skipBlanks();
    switch (at(cursor_)) {
        case L'+':
            return setOperator(tokArithOp, OpAdd, 1);
        case L'-':
            return setOperator(tokArithOp, OpSub, 1);
        case L'*':
            return setOperator(tokArithOp, OpMul, 1);
        case L'/':
            return setOperator(tokArithOp, OpDiv, 1);
        case L'&':
            return setOperator(tokArithOp, OpBitAnd, 1);
        case L'|':
            return setOperator(tokArithOp, OpBitOr, 1);
        default:
            return false;
    }
}

bool SyntaxLexer::parenthesis() {
    skipBlanks();
    switch (at(cursor_)) {
        case L'(':
            return setOperator(tokParen, ParenOpen, 1);
        case L')':
            return setOperator(tokParen, ParenClose, 1);
        default:
            return false;
    }
}
