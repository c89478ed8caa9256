#include "syntaxvalue.h"

void SyntaxValue::reset() {
    type = NUMERIC;
    constants = 1;
    references = 0;
    number = 0;
    patternSet = nullptr;
    text_.clear();
    name_.clear();
}

void SyntaxValue::markComputed() {
    patternSet = nullptr;
    name_.clear();
}

void SyntaxValue::setComputedNumber(int64_t n) {
    type = NUMERIC;
    number = n;
    markComputed();
}
