// Parser of the criteria language. parse reads a criteria text with a recursive-descent parser
// that evaluates every operand on the spot against the record and variables it is given, and
// builds a tree at the same time; evaluate then applies that tree to further records and
// variable bindings without reading the text again. While parsing, the analyzer also looks for
// a key hint: an equality between one field (or variable) and a constant that every matching
// record must satisfy, which the table engine uses to pick an index.
//
// Grammar, lowest precedence first; every binary level is left-associative:
//   bExpression := bTerm { "||" bTerm }
//   bTerm       := relation { "&&" relation }
//   relation    := expression { ("==" | ">=" | "<=" | ">" | "<" | "!=") expression }
//   expression  := term { ("+" | "-" | "|") term }
//   term        := factor { ("*" | "/" | "&") factor }
//   factor      := number | string | {patterns} | [FIELD] | variable | "(" bExpression ")"
//                | "!" factor | "+" factor | "-" factor
//
// Both operations return true on failure, after logging one message for the first error. One
// analyzer is used by one thread at a time.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>

#include "field.h"
#include "log/rklog.h"
#include "syntaxlexer.h"
#include "syntaxnode.h"
#include "syntaxtree.h"
#include "syntaxvalue.h"

class SyntaxAnalyzer {
  public:
    SyntaxAnalyzer();
    ~SyntaxAnalyzer();
    SyntaxAnalyzer(const SyntaxAnalyzer&) = delete;
    SyntaxAnalyzer& operator=(const SyntaxAnalyzer&) = delete;

    // Parses text and evaluates it against record (source of [FIELD] references) and variables
    // (source of identifiers), either of which may be null. result receives the value of the
    // whole expression; after a failure its content is undefined. A null text fails without a
    // message.
    bool parse(const wchar_t* text, const FieldList* record, const FieldList* variables,
               SyntaxValue& result, bool caseSensitive);
    // Evaluates the tree of the last parse against another record and variables. Fails when the
    // last parse failed; result is changed only on success.
    bool evaluate(const FieldList* record, const FieldList* variables, SyntaxValue& result,
                  bool caseSensitive);
    // The key hint of the last (successful) parse: true, with name and constant copied into out,
    // when there is one that holds for the whole expression; otherwise false and out untouched.
    bool getKeyHint(SyntaxValue& out) const;

  private:
    void bExpression(SyntaxValue& result, NodeHolder& holder);
    void bTerm(SyntaxValue& result, NodeHolder& holder);
    void relation(SyntaxValue& result, NodeHolder& holder);
    void expression(SyntaxValue& result, NodeHolder& holder);
    void term(SyntaxValue& result, NodeHolder& holder);
    void factor(SyntaxValue& result, NodeHolder& holder);
    void unary(SyntaxValue& result, NodeHolder& holder, int64_t kind, int64_t code);
    // False (logged for factor) when one more "(", "!" or sign would nest too deep.
    bool mayNest();

    // An operator read by a rule: kind and code of its token.
    struct Operator {
        int8_t kind = tokNone;
        int64_t code = 0;
    };
    // Reads the next token when it is an operator of kind with one of the codes; otherwise puts
    // it back and gives false.
    bool readOperator(int8_t kind, std::initializer_list<int64_t> codes, Operator& op);
    // Makes op the parent of holder's tree and right; false (logged for rule) when the tree
    // grows taller than kMaxTreeHeight.
    bool attach(const char* rule, NodeHolder& holder, NodeHolder right, Operator op);
    // Records the hint of an equality of left and right when it qualifies and none is recorded.
    void offerKeyHint(const SyntaxValue& left, const SyntaxValue& right);
    void clearKeyHint();

    SyntaxLexer lexer_;
    bool failed_ = false;
    const FieldList* record_ = nullptr;
    const FieldList* variables_ = nullptr;
    bool caseSensitive_ = false;
    SyntaxValue keyHint_;
    // Right operands of "||" being parsed at the moment.
    int32_t orDepth_ = 0;
    bool keyHintUsable_ = false;
    // "(", "!" and signs open at the moment.
    int nesting_ = 0;
    SyntaxTree tree_;
    RkLogWrapper* log_;
};
