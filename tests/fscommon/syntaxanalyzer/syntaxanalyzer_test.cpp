#include "syntaxanalyzer.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "criteriatest.h"

using criteriatest::CriteriaLog;
using criteriatest::makeFields;
using criteriatest::parseNumber;
using criteriatest::parseText;

TEST(SyntaxAnalyzer, PrecedenceAndAssociativity) {
    EXPECT_EQ(parseNumber(L"1 + 2 * 3"), 7);
    EXPECT_EQ(parseNumber(L"(1 + 2) * 3"), 9);
    EXPECT_EQ(parseNumber(L"8 - 3 - 2"), 3);
    EXPECT_EQ(parseNumber(L"64 / 4 / 2"), 8);
    // "&" binds like "*", "|" like "+", both left to right with their level.
    EXPECT_EQ(parseNumber(L"6 & 3 + 1"), 3);
    EXPECT_EQ(parseNumber(L"1 + 6 & 3"), 3);
    EXPECT_EQ(parseNumber(L"5 | 2 - 1"), 6);
    EXPECT_EQ(parseNumber(L"1 | 2 * 3"), 7);
    // Relations share one level and chain: the 0 or 1 of one comparison meets the next operand.
    EXPECT_EQ(parseNumber(L"3 > 2 > 1"), 0);
    EXPECT_EQ(parseNumber(L"1 < 2 == 1"), 1);
    EXPECT_EQ(parseNumber(L"5 == 5 == 5"), 0);
    EXPECT_EQ(parseNumber(L"1 + 1 == 2"), 1);
    // "&&" binds tighter than "||".
    EXPECT_EQ(parseNumber(L"1 || 0 && 0"), 1);
    EXPECT_EQ(parseNumber(L"0 && 0 || 1"), 1);
    EXPECT_EQ(parseNumber(L"2 && 3"), 1);
    EXPECT_EQ(parseNumber(L"0 || 7"), 1);
    // Unary operators.
    EXPECT_EQ(parseNumber(L"-3 * -2"), 6);
    EXPECT_EQ(parseNumber(L"- -5"), 5);
    EXPECT_EQ(parseNumber(L"+4"), 4);
    EXPECT_EQ(parseNumber(L"!0"), 1);
    EXPECT_EQ(parseNumber(L"!5"), 0);
    EXPECT_EQ(parseNumber(L"!!7"), 1);
    EXPECT_EQ(parseNumber(L"!0 + 1"), 2);
}

TEST(SyntaxAnalyzer, ArithmeticWrapsAndDivisionByZeroGivesZero) {
    EXPECT_EQ(parseNumber(L"7 / 0"), 0);
    EXPECT_EQ(parseNumber(L"0 / 0"), 0);
    EXPECT_EQ(parseNumber(L"-7 / 2"), -3);  // toward zero
    EXPECT_EQ(parseNumber(L"9223372036854775807 + 1"), INT64_MIN);
    EXPECT_EQ(parseNumber(L"-9223372036854775807 - 2"), INT64_MAX);
    EXPECT_EQ(parseNumber(L"4294967296 * 4294967296"), 0);
    EXPECT_EQ(parseNumber(L"3037000500 * 3037000500"), -9223372036709301616);
    // Literals beyond the signed range wrap; so do negation and division of the smallest number.
    EXPECT_EQ(parseNumber(L"9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parseNumber(L"-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parseNumber(L"9223372036854775808 / -1"), INT64_MIN);
    EXPECT_EQ(parseNumber(L"18446744073709551615"), -1);
    EXPECT_EQ(parseNumber(L"8589934592 | 3"), 8589934595);
    EXPECT_EQ(parseNumber(L"12884901888 & 8589934593"), 8589934592);
}

TEST(SyntaxAnalyzer, StringsConcatenateCompareAndMatch) {
    EXPECT_EQ(parseNumber(L"\"ab\" + \"cd\" == \"abcd\""), 1);
    EXPECT_EQ(parseNumber(L"\"ABC\" == \"abc\""), 1);
    EXPECT_EQ(parseNumber(L"\"ABC\" == \"abc\"", nullptr, nullptr, true), 0);
    EXPECT_EQ(parseNumber(L"\"abc\" <= \"ABD\""), 1);
    EXPECT_EQ(parseNumber(L"\"abc\" <= \"ABD\"", nullptr, nullptr, true), 0);  // 'a' > 'A'
    EXPECT_EQ(parseNumber(L"\"b\" > \"a\" && \"a\" < \"b\" && \"a\" >= \"a\""), 1);
    // The right operand of "==" and "!=" is a wildcard pattern; the left one never is.
    EXPECT_EQ(parseNumber(L"\"Hello\" == \"h*O\""), 1);
    EXPECT_EQ(parseNumber(L"\"Hello\" == \"h*O\"", nullptr, nullptr, true), 0);
    EXPECT_EQ(parseNumber(L"\"h*o\" == \"hello\""), 0);
    EXPECT_EQ(parseNumber(L"\"hello\" != \"h?llo\""), 0);
    EXPECT_EQ(parseNumber(L"\"hello\" > \"h*\""), 1);  // ordering ignores wildcards
    // Brace literals are case-insensitive pattern sets, whatever the case flag.
    const wchar_t* set = L"{\"*.txt\" \"*.doc\" \"makefile\"}";
    EXPECT_EQ(parseNumber(std::wstring(L"\"Notes.TXT\" == ") + set, nullptr, nullptr, true), 1);
    EXPECT_EQ(parseNumber(std::wstring(L"\"MAKEFILE\" == ") + set), 1);
    EXPECT_EQ(parseNumber(std::wstring(L"\"a.c\" == ") + set), 0);
    EXPECT_EQ(parseNumber(std::wstring(L"\"a.c\" != ") + set), 1);
    const auto concatenated = parseText(L"\"x\" + \"y\" + \"z\"");
    EXPECT_EQ(concatenated.text, L"xyz");
}

TEST(SyntaxAnalyzer, StrayClosingParenthesisIsAZeroOperand) {
    EXPECT_EQ(parseNumber(L"5 + )"), 5);
    EXPECT_EQ(parseNumber(L")"), 0);
    EXPECT_EQ(parseNumber(L"2 * ) + 1"), 1);
}

TEST(SyntaxAnalyzer, NumbersAndStringsFromRecordAndVariables) {
    FieldList record = makeFields({{L"U8", FT_UINT8},
                                   {L"U16", FT_UINT16},
                                   {L"U32", FT_UINT32},
                                   {L"U64", FT_UINT64},
                                   {L"S", FT_STRING},
                                   {L"id", FT_UINT32}});
    criteriatest::setNumber(record, L"U8", 255);
    criteriatest::setNumber(record, L"U16", 65535);
    criteriatest::setNumber(record, L"U32", 4294967295u);
    criteriatest::setNumber(record, L"U64", 1ull << 63);
    criteriatest::setText(record, L"S", L"Caf\u00e9");
    criteriatest::setNumber(record, L"id", 9);
    FieldList variables = makeFields({{L"id", FT_UINT32}, {L"S", FT_UINT8}});
    criteriatest::setNumber(variables, L"id", 3);
    criteriatest::setNumber(variables, L"S", 1);

    EXPECT_EQ(parseNumber(L"[U8]", &record), 255);
    EXPECT_EQ(parseNumber(L"[U16]", &record), 65535);
    EXPECT_EQ(parseNumber(L"[U32]", &record), 4294967295);
    EXPECT_EQ(parseNumber(L"[U64]", &record), INT64_MIN);  // all 64 bits: negative
    EXPECT_EQ(parseText(L"[S]", &record).text, L"Caf\u00e9");
    // Brackets always read the record, names always the variables.
    EXPECT_EQ(parseNumber(L"[id] * 10 + id", &record, &variables), 93);
    EXPECT_EQ(parseNumber(L"S", &record, &variables), 1);
    EXPECT_TRUE(parseText(L"id", &record, nullptr).failed);
    EXPECT_TRUE(parseText(L"[id]", nullptr, &record).failed);
    // Names match exactly.
    EXPECT_TRUE(parseText(L"[ID]==id", &record, &variables).failed);
    EXPECT_TRUE(parseText(L"[s]", &record).failed);
}

TEST(SyntaxAnalyzer, NullTextFailsWithoutAMessage) {
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    EXPECT_TRUE(analyzer.parse(nullptr, nullptr, nullptr, result, false));
    EXPECT_TRUE(analyzer.evaluate(nullptr, nullptr, result, false));  // nothing parsed
}

// --- failures and their messages -----------------------------------------------------------

class SyntaxAnalyzerErrors : public CriteriaLog {
  protected:
    ::testing::AssertionResult fails(const std::wstring& text, const char* function,
                                     const std::string& message, const FieldList* record = nullptr,
                                     const FieldList* variables = nullptr) {
        if (!parseText(text, record, variables).failed)
            return ::testing::AssertionFailure() << "parsed";
        return loggedOnly(function, message);
    }
};

TEST_F(SyntaxAnalyzerErrors, EveryTypeErrorHasItsMessage) {
    EXPECT_TRUE(fails(L"1 || \"a\"", "bExpression",
                      "SyntaxAnalyzer::bExpression - bExpression operands of different types or "
                      "not NUMERIC\n"));
    EXPECT_TRUE(fails(L"\"a\" || \"a\"", "bExpression",
                      "SyntaxAnalyzer::bExpression - bExpression operands of different types or "
                      "not NUMERIC\n"));
    EXPECT_TRUE(fails(L"\"a\" && 1", "bTerm",
                      "SyntaxAnalyzer::bTerm - bTerm operands of different types or not "
                      "NUMERIC\n"));
    EXPECT_TRUE(fails(L"1 == \"1\"", "relation",
                      "SyntaxAnalyzer::relation - relation operands of different types!\n"));
    EXPECT_TRUE(fails(L"\"a\" < 2", "relation",
                      "SyntaxAnalyzer::relation - relation operands of different types!\n"));
    EXPECT_TRUE(fails(L"1 + \"a\"", "expression",
                      "SyntaxAnalyzer::expression - expression operands of different types or not "
                      "NUMERIC\n"));
    EXPECT_TRUE(fails(L"\"a\" - \"b\"", "expression",
                      "SyntaxAnalyzer::expression - operator '-' not permitted on string type\n"));
    EXPECT_TRUE(fails(L"\"a\" | \"b\"", "expression",
                      "SyntaxAnalyzer::expression - operator '|' not permitted on string type\n"));
    EXPECT_TRUE(fails(L"\"a\" * 2", "term",
                      "SyntaxAnalyzer::term - term operands of different types or not NUMERIC\n"));
    EXPECT_TRUE(fails(L"4 / \"2\"", "term",
                      "SyntaxAnalyzer::term - term operands of different types or not NUMERIC\n"));
    EXPECT_TRUE(fails(L"\"a\" & \"b\"", "term",
                      "SyntaxAnalyzer::term - term operands of different types or not NUMERIC\n"));
    EXPECT_TRUE(
        fails(L"!\"a\"", "factor", "SyntaxAnalyzer::factor - factor operand is not NUMERIC\n"));
    EXPECT_TRUE(
        fails(L"-\"a\"", "factor", "SyntaxAnalyzer::factor - factor operand is not NUMERIC\n"));
}

TEST_F(SyntaxAnalyzerErrors, MisplacedTokensHaveTheirMessages) {
    const std::string unexpected = "SyntaxAnalyzer::factor - unexpected sequence!\n";
    EXPECT_TRUE(fails(L"", "factor", unexpected));
    EXPECT_TRUE(fails(L"== 1", "factor", unexpected));
    EXPECT_TRUE(fails(L"1 + ", "factor", unexpected));
    EXPECT_TRUE(fails(L". 1", "factor", unexpected));
    EXPECT_TRUE(fails(L"1 + =", "factor", unexpected));
    EXPECT_TRUE(fails(L"\t1", "factor", unexpected));
    EXPECT_TRUE(fails(L"&& 1", "factor", "SyntaxAnalyzer::factor - expected '!'\n"));
    EXPECT_TRUE(fails(L"1 + || 1", "factor", "SyntaxAnalyzer::factor - expected '!'\n"));
    EXPECT_TRUE(fails(L"* 2", "factor", "SyntaxAnalyzer::factor - expected '+' or '-'!\n"));
    EXPECT_TRUE(fails(L"| 2", "factor", "SyntaxAnalyzer::factor - expected '+' or '-'!\n"));
    EXPECT_TRUE(fails(L"(1 + 2", "factor", "SyntaxAnalyzer::factor - expected ')'\n"));
    EXPECT_TRUE(fails(L"(1 2)", "factor", "SyntaxAnalyzer::factor - expected ')'\n"));

    const std::string expectedOperator = "SyntaxAnalyzer::parse - expected operator.\n";
    EXPECT_TRUE(fails(L"1 2", "parse", expectedOperator));
    EXPECT_TRUE(fails(L"1 ", "parse", expectedOperator));  // a trailing blank
    EXPECT_TRUE(fails(L"1\t", "parse", expectedOperator));
    EXPECT_TRUE(fails(L"(1))", "parse", expectedOperator));
    EXPECT_TRUE(fails(L"1 = 1", "parse", expectedOperator));
    EXPECT_TRUE(fails(L"[A_B] == 1", "factor", unexpected));
    // A call-like form: the name is a variable and "(" is no operator.
    FieldList variables = makeFields({{L"upper", FT_UINT32}});
    EXPECT_TRUE(fails(L"upper(1)", "parse", expectedOperator, nullptr, &variables));
}

TEST_F(SyntaxAnalyzerErrors, FieldsThatCannotBeReadHaveTheirMessages) {
    FieldList record = makeFields({{L"A", FT_UINT32}, {L"B", FT_BYTES}, {L"S", FT_STRING}});
    const std::string notFound = "SyntaxAnalyzer::factor - variable specified not found!\n";
    EXPECT_TRUE(fails(L"[PATHID]==pathid", "factor", notFound, &record));
    EXPECT_TRUE(fails(L"[A] == a", "factor", notFound, &record, &record));
    EXPECT_TRUE(fails(L"[A] == 1", "factor", notFound, nullptr, &record));
    EXPECT_TRUE(
        fails(L"[B] == 1", "factor", "SyntaxAnalyzer::factor - typeXXX unknown!\n", &record));
    criteriatest::setText(record, L"S", std::wstring(4194304, L's'));
    EXPECT_TRUE(
        fails(L"[S]", "factor", "SyntaxAnalyzer::factor - string space not available\n", &record));
    criteriatest::setText(record, L"S", std::wstring(4194303, L's'));
    const auto longest = parseText(L"[S]", &record);
    EXPECT_FALSE(longest.failed);
    EXPECT_EQ(longest.text.size(), 4194303u);
}

TEST_F(SyntaxAnalyzerErrors, OnlyTheFirstErrorIsLogged) {
    EXPECT_TRUE(fails(L"(1 == \"a\") + (\"b\" * 2) + [X]", "relation",
                      "SyntaxAnalyzer::relation - relation operands of different types!\n"));
}
