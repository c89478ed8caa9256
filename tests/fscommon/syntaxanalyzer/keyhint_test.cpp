#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "criteriatest.h"
#include "syntaxanalyzer.h"
#include "text/utf8.h"

using criteriatest::makeFields;

namespace {

struct Hint {
    std::wstring name;
    SyntaxValue::Type type;
    int64_t number;
    std::wstring text;
};

class KeyHint : public ::testing::Test {
  protected:
    KeyHint()
        : record_(makeFields({{L"A", FT_UINT32},
                              {L"B", FT_UINT32},
                              {L"C", FT_UINT32},
                              {L"S", FT_STRING},
                              {L"ID", FT_UINT32}})),
          variables_(makeFields({{L"id", FT_UINT32}, {L"name", FT_STRING}})) {}

    // The hint of a successful parse of text, if any.
    std::optional<Hint> hintOf(const std::wstring& text) {
        SyntaxAnalyzer analyzer;
        SyntaxValue result;
        EXPECT_FALSE(analyzer.parse(text.c_str(), &record_, &variables_, result, false))
            << utf8::fromWide(text);
        SyntaxValue out;
        out.setName(L"untouched");
        if (!analyzer.getKeyHint(out)) {
            EXPECT_STREQ(out.name(), L"untouched");
            return std::nullopt;
        }
        return Hint{out.name(), out.type, out.number, out.text()};
    }
    std::wstring hintName(const std::wstring& text) {
        const auto hint = hintOf(text);
        return hint ? hint->name : L"(none)";
    }

    FieldList record_;
    FieldList variables_;
};

}  // namespace

TEST_F(KeyHint, EqualityOfAFieldWithAConstant) {
    auto hint = hintOf(L"[A] == 5");
    ASSERT_TRUE(hint);
    EXPECT_EQ(hint->name, L"A");
    EXPECT_EQ(hint->type, SyntaxValue::NUMERIC);
    EXPECT_EQ(hint->number, 5);

    hint = hintOf(L"7 == [B]");
    ASSERT_TRUE(hint);
    EXPECT_EQ(hint->name, L"B");
    EXPECT_EQ(hint->number, 7);

    hint = hintOf(L"[S] == \"Readme.txt\"");
    ASSERT_TRUE(hint);
    EXPECT_EQ(hint->name, L"S");
    EXPECT_EQ(hint->type, SyntaxValue::STRING);
    EXPECT_EQ(hint->text, L"Readme.txt");

    hint = hintOf(L"[S] == \"x\" + \"y\"");  // constants may be computed from literals
    ASSERT_TRUE(hint);
    EXPECT_EQ(hint->text, L"xy");
    EXPECT_EQ(hintOf(L"[A] == 2 * 3 + 1")->number, 7);
    EXPECT_EQ(hintName(L"([A]) == 5"), L"A");
    EXPECT_EQ(hintName(L"[A] == )"), L"A");  // the stray ")" is the constant 0
    // The first suitable equality wins.
    EXPECT_EQ(hintName(L"[A] == 1 && [B] == 2"), L"A");
    EXPECT_EQ(hintName(L"[A] > 1 && [B] == 2"), L"B");
}

TEST_F(KeyHint, NoHintWithoutAFieldAndAConstant) {
    EXPECT_EQ(hintName(L"[ID] == id"), L"(none)");  // a variable is not a constant
    EXPECT_EQ(hintName(L"[A] == [B]"), L"(none)");
    EXPECT_EQ(hintName(L"1 == 1"), L"(none)");
    EXPECT_EQ(hintName(L"[A] + 1 == 5"), L"(none)");
    EXPECT_EQ(hintName(L"[A] >= 5"), L"(none)");
    EXPECT_EQ(hintName(L"[A] != 5"), L"(none)");
    // Wildcards and pattern sets are matches, not keys.
    EXPECT_EQ(hintName(L"[S] == \"*.txt\""), L"(none)");
    EXPECT_EQ(hintName(L"[S] == \"a?c\""), L"(none)");
    EXPECT_EQ(hintName(L"[S] == {\"readme\"}"), L"(none)");
    // A string field on the right is the pattern: the record "a*" satisfies "a" == [S].
    EXPECT_EQ(hintName(L"\"a\" == [S]"), L"(none)");
    EXPECT_EQ(hintName(L"\"a\" == [S] && 5 == [A]"), L"A");
    // A variable compared with a constant is a hint on the variable's name.
    EXPECT_EQ(hintName(L"id == 3"), L"id");
}

TEST_F(KeyHint, OrDropsTheHintAndAndKeepsIt) {
    EXPECT_EQ(hintName(L"[A] == 1 || [B] == 2"), L"(none)");
    EXPECT_EQ(hintName(L"[A] == 1 || [A] == 1"), L"(none)");
    EXPECT_EQ(hintName(L"[A] == 1 || [B] == 2 && [C] == 3"), L"(none)");
    EXPECT_EQ(hintName(L"[A] == 1 && [B] == 2 || [C] == 3"), L"(none)");
    // A hint found before the "||" expression began survives it.
    EXPECT_EQ(hintName(L"[A] == 1 && ([B] == 2 || [C] == 3)"), L"A");
    // A parenthesised "||" followed by "&&" and an equality: that equality's hint.
    EXPECT_EQ(hintName(L"([A] == 1 || [B] == 2) && [C] == 3"), L"C");
    EXPECT_EQ(hintName(L"[ID] == id && ([S] == name || [B] == 4) && [C] == 5"), L"C");
}

TEST_F(KeyHint, NotDropsTheHintFoundInside) {
    EXPECT_EQ(hintName(L"!([A] == 1)"), L"(none)");
    EXPECT_EQ(hintName(L"!([A] == 1) && [B] == 2"), L"B");
    EXPECT_EQ(hintName(L"[B] == 2 && !([A] == 1)"), L"B");
    // "![A]" is not the field: "![A] == 1" holds when A is 0.
    EXPECT_EQ(hintName(L"![A] == 1"), L"(none)");
}

// A hint must hold for every record the criteria select. Comparisons whose truth is used as a
// number, or compared again, and operands changed by a sign are no keys.
TEST_F(KeyHint, ComputedUsesOfAComparisonGiveNoHint) {
    EXPECT_EQ(hintName(L"([A] == 1) == 0"), L"(none)");
    EXPECT_EQ(hintName(L"[A] == 1 == 0"), L"(none)");
    EXPECT_EQ(hintName(L"([A] == 1) + 1"), L"(none)");
    EXPECT_EQ(hintName(L"1 - ([A] == 1)"), L"(none)");
    EXPECT_EQ(hintName(L"([A] == 1) * 2"), L"(none)");
    EXPECT_EQ(hintName(L"([A] == 1) | 1"), L"(none)");
    EXPECT_EQ(hintName(L"-[A] == 5"), L"(none)");
    EXPECT_EQ(hintName(L"5 == -[A]"), L"(none)");
    EXPECT_EQ(hintName(L"([A] && 1) == 1"), L"(none)");
    // A comparison of constants is itself a constant.
    EXPECT_EQ(hintName(L"(5 == 5) == [A]"), L"A");
    EXPECT_EQ(hintOf(L"(5 == 5) == [A]")->number, 1);
    // Outside such uses hints stay.
    EXPECT_EQ(hintName(L"-([A] == 1)"), L"A");
    EXPECT_EQ(hintName(L"([A] == 1) && 1 + 1"), L"A");
}

TEST_F(KeyHint, FailedParseLeavesNoHint) {
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    ASSERT_FALSE(analyzer.parse(L"[A] == 5", &record_, &variables_, result, false));
    SyntaxValue out;
    ASSERT_TRUE(analyzer.getKeyHint(out));
    EXPECT_TRUE(
        analyzer.parse(L"[A] == 5 && [MISSING] == 1", &record_, &variables_, result, false));
    EXPECT_FALSE(analyzer.getKeyHint(out));
    // Evaluation records no hint: the one of the last parse stays.
    ASSERT_FALSE(analyzer.parse(L"[B] == 2", &record_, &variables_, result, false));
    ASSERT_FALSE(analyzer.evaluate(&record_, &variables_, result, false));
    ASSERT_TRUE(analyzer.getKeyHint(out));
    EXPECT_STREQ(out.name(), L"B");
}
