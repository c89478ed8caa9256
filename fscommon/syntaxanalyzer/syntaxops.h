// The computations of the criteria operators, shared by the parser (which evaluates while it
// reads) and the tree evaluator, so that both give the same results. Numbers are signed 64-bit
// and wrap on overflow; division by zero gives 0.
#pragma once

#include <cstdint>

#include "syntaxvalue.h"

namespace syntax {

// The binary arithmetic codes OpAdd, OpSub, OpMul, OpDiv, OpBitAnd, OpBitOr on two numbers.
// False for any other code.
bool applyArithmetic(int64_t code, int64_t left, int64_t right, int64_t& result);
// Unary minus, wrapping (the negation of the smallest number is itself).
int64_t negate(int64_t n);

// Compares two values of the same type with the relational code: numbers as signed integers;
// strings by pattern set (when right has one, left is lower-cased in place and "==" / "!="
// test membership), by wildcard ("==" / "!=" when right holds "*" or "?") or by compareText.
// False for an unknown code.
bool compareValues(int64_t code, SyntaxValue& left, const SyntaxValue& right, bool caseSensitive,
                   int64_t& result);

// Appends right's text to left's; false, leaving left alone, when the combined length plus the
// terminator would reach kMaxStringLength.
bool concatenate(SyntaxValue& left, const SyntaxValue& right);

}  // namespace syntax
