#include "syntaxtoken.h"

SyntaxToken& SyntaxToken::operator=(const SyntaxToken& other) {
    if (this != &other) {
        text = other.text;
        kind = other.kind;
        patternSet = other.patternSet;
        value = other.value;
    }
    return *this;
}
