#include "syntaxlexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Lexed {
    int kind;
    int64_t value;
    std::wstring text;
};

// Every token up to the end or the first error, and the final state.
std::vector<Lexed> lex(const std::wstring& text, int* finalState = nullptr) {
    SyntaxLexer lexer;
    lexer.setText(text.c_str());
    std::vector<Lexed> out;
    for (;;) {
        const SyntaxToken& t = lexer.next();
        if (lexer.getState() != SyntaxLexer::kTokenRead) {
            EXPECT_EQ(t.kind, tokNone);
            if (finalState)
                *finalState = lexer.getState();
            return out;
        }
        out.push_back({t.kind, t.value, t.text.c_str()});
    }
}

std::vector<int> kinds(const std::wstring& text, int* finalState = nullptr) {
    std::vector<int> out;
    for (const Lexed& t : lex(text, finalState))
        out.push_back(t.kind);
    return out;
}

}  // namespace

TEST(SyntaxLexer, CutsTheCacheCriteriaIntoTokens) {
    int state = -1;
    const auto tokens = lex(L"[PATHID]==pathid", &state);
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[0].kind, tokField);
    EXPECT_EQ(tokens[0].text, L"PATHID");
    EXPECT_EQ(tokens[1].kind, tokRelOp);
    EXPECT_EQ(tokens[1].value, OpRelEq);
    EXPECT_EQ(tokens[2].kind, tokVariable);
    EXPECT_EQ(tokens[2].text, L"pathid");
    EXPECT_EQ(state, SyntaxLexer::kEndOfText);

    EXPECT_EQ(kinds(L"[PATHID]==pathid && ([FILENAME]==filename || [SHORTFILENAME]==x1)", &state),
              (std::vector<int>{tokField, tokRelOp, tokVariable, tokLogicalOp, tokParen, tokField,
                                tokRelOp, tokVariable, tokLogicalOp, tokField, tokRelOp,
                                tokVariable, tokParen}));
    EXPECT_EQ(state, SyntaxLexer::kEndOfText);
}

TEST(SyntaxLexer, RecogniserOrderDecidesBetweenSimilarOperators) {
    // "!=" is relational, "!" before a name is logical.
    auto t = lex(L"a != 1");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[1].kind, tokRelOp);
    EXPECT_EQ(t[1].value, OpRelNe);
    EXPECT_EQ(t[2].kind, tokNumber);
    t = lex(L"!a");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].kind, tokLogicalOp);
    EXPECT_EQ(t[0].value, OpNot);
    EXPECT_EQ(t[1].kind, tokVariable);

    // Doubled "&" and "|" are logical, single ones arithmetic.
    t = lex(L"&& & || |");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].kind, tokLogicalOp);
    EXPECT_EQ(t[0].value, OpAnd);
    EXPECT_EQ(t[1].kind, tokArithOp);
    EXPECT_EQ(t[1].value, OpBitAnd);
    EXPECT_EQ(t[2].kind, tokLogicalOp);
    EXPECT_EQ(t[2].value, OpOr);
    EXPECT_EQ(t[3].kind, tokArithOp);
    EXPECT_EQ(t[3].value, OpBitOr);

    // A point followed by digits is a number, a lone point punctuation.
    t = lex(L".5 . , ;");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].kind, tokNumber);
    EXPECT_EQ(t[0].value, 0);
    EXPECT_EQ(t[1].kind, tokPunct);
    EXPECT_EQ(t[1].value, 0);
    EXPECT_EQ(t[2].value, 1);
    EXPECT_EQ(t[3].value, 2);

    t = lex(L"== >= <= > < != + - * / ( )");
    const int64_t codes[] = {OpRelEq, OpRelGe, OpRelLe, OpRelGt, OpRelLt, OpRelNe,
                             OpAdd,   OpSub,   OpMul,   OpDiv,   0,       1};
    ASSERT_EQ(t.size(), 12u);
    for (size_t i = 0; i < t.size(); ++i)
        EXPECT_EQ(t[i].value, codes[i]) << i;

    int state = -1;
    EXPECT_TRUE(kinds(L"a = 1", &state).size() == 1);  // a single "=" is no token
    EXPECT_EQ(state, SyntaxLexer::kLexError);
}

TEST(SyntaxLexer, NumbersWithAndWithoutFraction) {
    auto t = lex(L"42 007 1.5 .25 12345678901234567890123456789");
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0].value, 42);
    EXPECT_EQ(t[1].value, 7);
    EXPECT_EQ(t[2].value, 0);  // a fraction makes the literal 0
    EXPECT_EQ(t[3].value, 0);
    // 30 digits: the first 23 are read, wrapping modulo 2^64.
    EXPECT_EQ(t[4].value, 4807115922877859019);
    for (const Lexed& n : t)
        EXPECT_TRUE(n.text.empty());

    int state = -1;
    EXPECT_TRUE(lex(L"1.", &state).empty());
    EXPECT_EQ(state, SyntaxLexer::kLexError);
    EXPECT_TRUE(lex(L"1.x", &state).empty());
    EXPECT_EQ(state, SyntaxLexer::kLexError);
}

TEST(SyntaxLexer, BlanksTabsAndTheEndOfText) {
    int state = -1;
    EXPECT_EQ(kinds(L"  a  ", &state).size(), 1u);
    EXPECT_EQ(state, SyntaxLexer::kLexError);  // trailing blanks end in an error
    EXPECT_EQ(kinds(L"a", &state).size(), 1u);
    EXPECT_EQ(state, SyntaxLexer::kEndOfText);
    EXPECT_TRUE(kinds(L"", &state).empty());
    EXPECT_EQ(state, SyntaxLexer::kEndOfText);

    // Only U+0020 is a blank: a tab outside a string is an error, inside one it is content.
    EXPECT_TRUE(kinds(L"\ta", &state).empty());
    EXPECT_EQ(state, SyntaxLexer::kLexError);
    EXPECT_EQ(kinds(L"a\t== 1", &state).size(), 1u);
    EXPECT_EQ(state, SyntaxLexer::kLexError);
    const auto t = lex(L"\"a\tb\"", &state);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].text, L"a\tb");
    EXPECT_EQ(state, SyntaxLexer::kEndOfText);

    SyntaxLexer lexer;
    lexer.setText(nullptr);
    EXPECT_EQ(lexer.getState(), SyntaxLexer::kLexError);
    lexer.next();
    EXPECT_EQ(lexer.getState(), SyntaxLexer::kLexError);
}

TEST(SyntaxLexer, FieldReferencesAndIdentifiers) {
    auto t = lex(L"[Name2] name2 A1b");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].kind, tokField);
    EXPECT_EQ(t[0].text, L"Name2");
    EXPECT_EQ(t[1].kind, tokVariable);
    EXPECT_EQ(t[2].text, L"A1b");

    // Underscores, blanks, digits first or a missing "]" are no field reference.
    for (const wchar_t* bad : {L"[FILE_NAME]", L"[ A]", L"[A ]", L"[1A]", L"[A", L"[]"}) {
        int state = -1;
        EXPECT_TRUE(kinds(bad, &state).empty()) << bad;
        EXPECT_EQ(state, SyntaxLexer::kLexError) << bad;
    }
    // An identifier stops at an underscore, which is no token of its own.
    int state = -1;
    EXPECT_EQ(kinds(L"file_name", &state).size(), 1u);
    EXPECT_EQ(state, SyntaxLexer::kLexError);
}

TEST(SyntaxLexer, StringsAndBraceLiterals) {
    SyntaxLexer lexer;
    lexer.setText(L"\"x y\" {\"*.txt\", \"*.doc\"} \"open {\" \"unclosed");
    const SyntaxToken& quoted = lexer.next();
    EXPECT_EQ(quoted.kind, tokString);
    EXPECT_STREQ(quoted.text.c_str(), L"x y");
    EXPECT_FALSE(quoted.patternSet);

    const SyntaxToken& brace = lexer.next();
    EXPECT_EQ(brace.kind, tokString);
    EXPECT_STREQ(brace.text.c_str(), L"\"*.txt\", \"*.doc\"");
    ASSERT_TRUE(brace.patternSet);
    EXPECT_EQ(brace.patternSet->kinds(), static_cast<uint32_t>(PatternSet::SUFFIX));
    EXPECT_EQ(brace.patternSet->items(PatternSet::SUFFIX).size(), 2u);
    EXPECT_TRUE(brace.patternSet->isBuilt());

    const SyntaxToken& next = lexer.next();  // a brace inside quotes is content
    EXPECT_STREQ(next.text.c_str(), L"open {");
    EXPECT_FALSE(next.patternSet);
    lexer.next();  // an unclosed quote is an error
    EXPECT_EQ(lexer.getState(), SyntaxLexer::kLexError);

    int state = -1;
    EXPECT_TRUE(kinds(L"{\"a\"", &state).empty());  // no closing brace
    EXPECT_EQ(state, SyntaxLexer::kLexError);
}

TEST(SyntaxLexer, UngetReadsTheSameTokenAgain) {
    SyntaxLexer lexer;
    lexer.setText(L"a   + b");
    EXPECT_EQ(lexer.next().kind, tokVariable);
    EXPECT_EQ(lexer.next().value, OpAdd);
    lexer.unget();
    EXPECT_EQ(lexer.next().value, OpAdd);
    EXPECT_STREQ(lexer.next().text.c_str(), L"b");
    lexer.next();
    EXPECT_EQ(lexer.getState(), SyntaxLexer::kEndOfText);
    // setText starts afresh.
    lexer.setText(L"7");
    EXPECT_EQ(lexer.next().value, 7);
}

TEST(SyntaxLexer, IdentifiersStayBelowTheirLimit) {
    const std::wstring longest(2097151, L'v');
    auto t = lex(longest);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].text.size(), longest.size());
    int state = -1;
    EXPECT_TRUE(lex(longest + L"v", &state).empty());
    EXPECT_EQ(state, SyntaxLexer::kLexError);
}
