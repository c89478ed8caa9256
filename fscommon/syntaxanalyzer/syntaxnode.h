// Nodes of a parsed criteria tree. A leaf holds the token of a number, string, field reference or
// variable; a binary operator node holds the operator's token and its two operand trees; a unary
// operator ("!", and the signs as OpPlus / OpMinus) has its operand on the left and an empty node
// on the right. Parentheses leave no node.
#pragma once

#include <algorithm>
#include <memory>

#include "syntaxtoken.h"

struct SyntaxNode {
    SyntaxNode() = default;
    explicit SyntaxNode(const SyntaxToken& token) : token(token) {}

    bool isLeaf() const { return !left && !right; }

    std::unique_ptr<SyntaxNode> left;
    std::unique_ptr<SyntaxNode> right;
    SyntaxToken token;
    // Nodes on the longest path down from this one, this one included.
    int height = 1;
};

// Owns one (sub)tree; the parser's rules hand holders to each other so that a rule can replace
// the tree it was given by a new parent of it.
using NodeHolder = std::unique_ptr<SyntaxNode>;

inline NodeHolder makeEmptyNode() {
    return std::make_unique<SyntaxNode>();
}

// Replaces current by a new node with token op, current as its left and right as its right
// child. Returns the new node's height.
inline int combineNodes(NodeHolder& current, NodeHolder right, const SyntaxToken& op) {
    auto parent = std::make_unique<SyntaxNode>(op);
    const int leftHeight = current ? current->height : 0;
    const int rightHeight = right ? right->height : 0;
    parent->height = 1 + std::max(leftHeight, rightHeight);
    parent->left = std::move(current);
    parent->right = std::move(right);
    current = std::move(parent);
    return current->height;
}
