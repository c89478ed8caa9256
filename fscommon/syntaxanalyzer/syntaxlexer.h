// Cuts a criteria text into tokens for the recursive-descent parser. Recognisers are tried in a
// fixed order (brace literal, number, punctuation, identifier, field reference, quoted string,
// relational, logical, arithmetic operator, parenthesis); each skips blanks (U+0020 only) first.
// One token can be put back with unget.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "syntaxtoken.h"

class SyntaxLexer {
  public:
    enum State { kTokenRead = 0, kEndOfText = 1, kLexError = 2 };

    // Copies text and starts at its beginning; a null text leaves no text and state kLexError.
    void setText(const wchar_t* text);
    // Reads the next token and sets the state. The token stays valid until the next call.
    const SyntaxToken& next();
    // The next call of next reads the most recent token again.
    void unget() { cursor_ = tokenStart_; }
    int getState() const { return state_; }

  private:
    wchar_t at(size_t pos) const { return buffer_[pos]; }
    void skipBlanks();
    void setNone();

    bool braceLiteral();
    bool number();
    bool punctuation();
    bool identifier();
    bool fieldReference();
    bool quotedString();
    bool relationalOperator();
    bool logicalOperator();
    bool arithmeticOperator();
    bool parenthesis();
    struct Spelling {
        const wchar_t* text;
        int64_t code;
    };
    // The first of spellings found at the cursor becomes a token of kind with its code.
    bool oneOf(int8_t kind, std::span<const Spelling> spellings);
    // open, then everything up to the first close (shorter than kMaxStringLength): the
    // content's position, the cursor moved past close.
    bool delimited(wchar_t open, wchar_t close, size_t& begin, size_t& length);
    // A token of kind whose text is length units of the buffer at begin.
    void setContent(int8_t kind, size_t begin, size_t length);

    std::wstring buffer_;
    bool hasText_ = false;
    size_t cursor_ = 0;
    size_t tokenStart_ = 0;
    int state_ = kLexError;
    SyntaxToken token_;
};
