#include "syntaxlexer.h"

#include <algorithm>
#include <memory>

#include "syntaxlimits.h"
#include "text/strutil.h"

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

bool SyntaxLexer::delimited(wchar_t open, wchar_t close, size_t& begin, size_t& length) {
    skipBlanks();
    if (at(cursor_) != open)
        return false;
    const size_t end = buffer_.find(close, cursor_ + 1);
    if (end == std::wstring::npos || end - cursor_ - 1 >= syntax::kMaxStringLength)
        return false;
    begin = cursor_ + 1;
    length = end - begin;
    cursor_ = end + 1;
    return true;
}

void SyntaxLexer::setContent(int8_t kind, size_t begin, size_t length) {
    token_.kind = kind;
    token_.text.assign(buffer_.data() + begin, length);
    token_.value = 0;
    token_.patternSet.reset();
}

bool SyntaxLexer::braceLiteral() {
    size_t begin = 0;
    size_t length = 0;
    if (!delimited(L'{', L'}', begin, length))
        return false;
    setContent(tokString, begin, length);
    auto set = std::make_shared<PatternSet>();
    set->fill(std::wstring_view(buffer_).substr(begin, length));
    set->build(false);
    token_.patternSet = std::move(set);
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

bool SyntaxLexer::oneOf(int8_t kind, std::span<const Spelling> spellings) {
    skipBlanks();
    for (const Spelling& spelling : spellings) {
        size_t n = 0;
        while (spelling.text[n] != L'\0' && at(cursor_ + n) == spelling.text[n])
            ++n;
        if (spelling.text[n] == L'\0') {
            // Operators leave the token's text as it was.
            token_.kind = kind;
            token_.value = spelling.code;
            token_.patternSet.reset();
            cursor_ += n;
            return true;
        }
    }
    return false;
}

bool SyntaxLexer::punctuation() {
    static constexpr Spelling kPunctuation[] = {{L".", 0}, {L",", 1}, {L";", 2}};
    return oneOf(tokPunct, kPunctuation);
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
    setContent(tokVariable, cursor_, length);
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
    setContent(tokField, begin, length);
    cursor_ = pos + 1;
    return true;
}

bool SyntaxLexer::quotedString() {
    size_t begin = 0;
    size_t length = 0;
    if (!delimited(L'"', L'"', begin, length))
        return false;
    setContent(tokString, begin, length);
    return true;
}

bool SyntaxLexer::relationalOperator() {
    // Two-character forms first: ">=" is not ">" followed by "=".
    static constexpr Spelling kRelational[] = {{L"==", OpRelEq}, {L">=", OpRelGe},
                                               {L"<=", OpRelLe}, {L">", OpRelGt},
                                               {L"<", OpRelLt},  {L"!=", OpRelNe}};
    return oneOf(tokRelOp, kRelational);
}

bool SyntaxLexer::logicalOperator() {
    static constexpr Spelling kLogical[] = {{L"&&", OpAnd}, {L"||", OpOr}, {L"!", OpNot}};
    return oneOf(tokLogicalOp, kLogical);
}

bool SyntaxLexer::arithmeticOperator() {
    static constexpr Spelling kArithmetic[] = {{L"+", OpAdd}, {L"-", OpSub},    {L"*", OpMul},
                                               {L"/", OpDiv}, {L"&", OpBitAnd}, {L"|", OpBitOr}};
    return oneOf(tokArithOp, kArithmetic);
}

bool SyntaxLexer::parenthesis() {
    static constexpr Spelling kParentheses[] = {{L"(", ParenOpen}, {L")", ParenClose}};
    return oneOf(tokParen, kParentheses);
}
