// A parsed criteria tree and its evaluation against a record and variables: every later
// application of a criteria walks the tree instead of reading the text again. A brace literal
// on the right of an operator is evaluated once and kept in its node.
#pragma once

#include <vector>

#include "field.h"
#include "log/rklog.h"
#include "syntaxnode.h"
#include "syntaxvalue.h"

class SyntaxTree {
  public:
    SyntaxTree();
    SyntaxTree(const SyntaxTree&) = delete;
    SyntaxTree& operator=(const SyntaxTree&) = delete;

    // Takes the tree of a parse; complete is false when the parse failed, and such a tree is kept
    // (values of that parse may still refer to its pattern sets) but never evaluated.
    void reset(NodeHolder root, bool complete);
    // Releases the tree.
    void clear() { reset(nullptr, false); }
    bool isComplete() const { return complete_; }

    // Evaluates the tree; true on failure, and then result is left alone. Fails when the last
    // parse did not complete.
    bool evaluate(const FieldList* record, const FieldList* variables, bool caseSensitive,
                  SyntaxValue& result);

  private:
    // Values node into out; the right operand of a node at depth d is held in scratch_[d].
    void evaluate(SyntaxNode* node, SyntaxValue& out, size_t depth);
    void l_value(const SyntaxToken& token, SyntaxValue& value);
    // Applies the operator of token to left and right; the result replaces left.
    void resolve(const SyntaxToken& token, SyntaxValue& left, const SyntaxValue& right);

    NodeHolder root_;
    bool complete_ = false;
    std::vector<SyntaxValue> scratch_;
    SyntaxValue value_;
    bool failed_ = false;
    const FieldList* record_ = nullptr;
    const FieldList* variables_ = nullptr;
    bool caseSensitive_ = false;
    RkLogWrapper* log_;
};
