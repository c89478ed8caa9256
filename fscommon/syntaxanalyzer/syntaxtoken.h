// Tokens of the criteria language, with their kinds and operator codes.
#pragma once

#include <cstdint>
#include <memory>

#include "inlinetext.h"
#include "patternset.h"
#include "syntaxvalue.h"

enum TokenKind : int8_t {
    tokNone = -1,      // end of text, or nothing recognised
    tokNumber = 0,     // decimal literal; value = the number
    tokString = 1,     // "quoted" or {brace} literal; text = the content
    tokField = 2,      // [NAME]; text = the name
    tokVariable = 3,   // identifier; text = the identifier
    tokArithOp = 4,    // value: ArithOp
    tokParen = 5,      // value: "(" 0, ")" 1
    tokLogicalOp = 6,  // value: LogicalOp
    tokRelOp = 7,      // value: RelOp
    tokPunct = 9,      // value: "." 0, "," 1, ";" 2
};

enum ArithOp : int64_t {
    OpAdd = 0,
    OpPlus = 1,  // unary "+", given by the parser
    OpSub = 2,
    OpMinus = 3,  // unary "-", given by the parser
    OpMul = 4,
    OpDiv = 5,
    OpBitAnd = 6,
    OpBitOr = 7,
};

enum LogicalOp : int64_t { OpAnd = 0, OpOr = 1, OpNot = 2 };

enum RelOp : int64_t {
    OpRelEq = 0,
    OpRelGe = 1,
    OpRelLe = 2,
    OpRelGt = 3,
    OpRelLt = 4,
    OpRelNe = 5
};

enum ParenCode : int64_t { ParenOpen = 0, ParenClose = 1 };

struct SyntaxToken {
    SyntaxToken() = default;
    SyntaxToken(int8_t kind, int64_t value) : kind(kind), value(value) {}
    // Copies text, kind, value and the pattern set; a copy starts with a new cachedValue.
    SyntaxToken(const SyntaxToken& other)
        : text(other.text), kind(other.kind), patternSet(other.patternSet), value(other.value) {}
    SyntaxToken& operator=(const SyntaxToken& other);

    InlineText text;
    int8_t kind = tokNone;
    // Set only on a brace literal. Shared so that the tree node holding the literal keeps the set
    // alive for as long as the tree lives.
    std::shared_ptr<const PatternSet> patternSet;
    // In tree nodes: the evaluated brace literal, kept between evaluations.
    SyntaxValue cachedValue;
    int64_t value = 0;
};
