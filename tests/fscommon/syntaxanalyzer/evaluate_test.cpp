// The tree evaluation of a parsed criteria must give what the parse gave, for the same record and
// variables and after they change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "criteriatest.h"
#include "syntaxanalyzer.h"
#include "text/utf8.h"

using criteriatest::CriteriaLog;
using criteriatest::makeFields;
using criteriatest::Outcome;
using criteriatest::outcomeOf;
using criteriatest::parseText;
using criteriatest::setNumber;
using criteriatest::setText;

namespace {

const std::vector<std::wstring> kExpressions = {
    L"[PATHID]==pathid && ([FILENAME]==filename || [SHORTFILENAME]==shortfilename)",
    L"[PATHID]==pathid && [FILENAME]==filename",
    L"[FILENAME] + \".\" + ext",
    L"[FILENAME] + \"/\" + [SHORTFILENAME] == filename + \"/\" + shortfilename",
    L"[SIZE] | 4294967296",
    L"[SIZE] & 1099511627775",
    L"([SIZE] | big) - big",
    L"[SIZE] * 3 / 2 - [ATTR] / 1",
    L"[FILENAME] <= filename",
    L"[FILENAME] >= filename && [FILENAME] != \"zzz\"",
    L"[FILENAME] == \"*.TXT\"",
    L"[FILENAME] != \"?eadme*\"",
    L"[FILENAME] == {\"*.txt\" \"*.doc\" \"makefile\" \"read*\" \"a?c\"}",
    L"[FILENAME] != {\"*.txt\"} && pathid > 0",
    L"flag || [PATHID] == 1",
    L"flag && [PATHID] == 1",
    L"!flag + -[ATTR] * 2",
    L"[ATTR] > 3 > 0 == 1",
    L"pathid / (flag - flag)",
    L"-(pathid - 9223372036854775807 - 2)",
    L"5 + )",
    L"[FILENAME]",
};

struct Binding {
    const wchar_t* name;
    const wchar_t* shortName;
    uint64_t size;
    uint32_t attr;
    uint32_t pathid;
    uint32_t flag;
    const wchar_t* filename;
};

class ParseAndEvaluate : public ::testing::Test {
  protected:
    ParseAndEvaluate()
        : record_(makeFields({{L"FILENAME", FT_STRING},
                              {L"SHORTFILENAME", FT_STRING},
                              {L"ATTR", FT_UINT32},
                              {L"SIZE", FT_UINT64},
                              {L"PATHID", FT_UINT32}})),
          variables_(makeFields({{L"pathid", FT_UINT32},
                                 {L"filename", FT_STRING},
                                 {L"shortfilename", FT_STRING},
                                 {L"ext", FT_STRING},
                                 {L"big", FT_UINT64},
                                 {L"flag", FT_UINT8}})) {}

    void bind(const Binding& b) {
        setText(record_, L"FILENAME", b.name);
        setText(record_, L"SHORTFILENAME", b.shortName);
        setNumber(record_, L"SIZE", b.size);
        setNumber(record_, L"ATTR", b.attr);
        setNumber(record_, L"PATHID", 7);
        setNumber(variables_, L"pathid", b.pathid);
        setNumber(variables_, L"flag", b.flag);
        setText(variables_, L"filename", b.filename);
        setText(variables_, L"shortfilename", L"READ~1.TXT");
        setText(variables_, L"ext", L"bak");
        setNumber(variables_, L"big", 1ull << 40);
    }

    FieldList record_;
    FieldList variables_;
};

const Binding kBindings[] = {
    {L"readme.txt", L"READ~1.TXT", 5000000000ull, 0x21, 7, 1, L"README.TXT"},
    {L"Makefile", L"", 12, 0x10, 8, 2, L"makefile"},
    {L"abc", L"ABC", 1ull << 63, 3, 7, 0, L"zzz"},
    {L"notes.doc", L"NOTES~1.DOC", 0, 0, 0, 1, L"notes.doc"},
};

}  // namespace

TEST_F(ParseAndEvaluate, TreeGivesWhatTheParseGave) {
    for (const std::wstring& text : kExpressions) {
        for (const Binding& first : kBindings) {
            bind(first);
            SyntaxAnalyzer analyzer;
            SyntaxValue parsed;
            const bool parseFailed =
                analyzer.parse(text.c_str(), &record_, &variables_, parsed, false);
            ASSERT_FALSE(parseFailed) << utf8::fromWide(text);
            SyntaxValue evaluated;
            const Outcome again =
                outcomeOf(analyzer.evaluate(&record_, &variables_, evaluated, false), evaluated);
            EXPECT_EQ(again, outcomeOf(false, parsed)) << utf8::fromWide(text);

            // Other values in the same record and variables: the tree sees them.
            for (const Binding& next : kBindings) {
                bind(next);
                const Outcome fresh = parseText(text, &record_, &variables_);
                const Outcome walked = outcomeOf(
                    analyzer.evaluate(&record_, &variables_, evaluated, false), evaluated);
                EXPECT_EQ(walked, fresh)
                    << utf8::fromWide(text) << " / " << utf8::fromWide(next.name);
            }
        }
    }
}

TEST_F(ParseAndEvaluate, CaseFlagIsTakenPerEvaluation) {
    bind(kBindings[0]);
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    ASSERT_FALSE(analyzer.parse(L"[FILENAME] == filename", &record_, &variables_, result, false));
    EXPECT_EQ(result.number, 1);
    ASSERT_FALSE(analyzer.evaluate(&record_, &variables_, result, true));
    EXPECT_EQ(result.number, 0);
    ASSERT_FALSE(analyzer.evaluate(&record_, &variables_, result, false));
    EXPECT_EQ(result.number, 1);
}

TEST_F(ParseAndEvaluate, OrSkipsItsRightOperandOnlyAfterExactlyOne) {
    bind(kBindings[0]);
    FieldList bare = makeFields({{L"FILENAME", FT_STRING}});  // no PATHID
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    ASSERT_FALSE(analyzer.parse(L"flag || [PATHID] == 1", &record_, &variables_, result, false));
    setNumber(variables_, L"flag", 1);
    ASSERT_FALSE(analyzer.evaluate(&bare, &variables_, result, false));
    EXPECT_EQ(result.number, 1);
    setNumber(variables_, L"flag", 2);  // true, but not 1: the missing field is read
    EXPECT_TRUE(analyzer.evaluate(&bare, &variables_, result, false));
    EXPECT_EQ(result.number, 1);  // a failed evaluation leaves the result alone
    setNumber(variables_, L"flag", 0);
    EXPECT_TRUE(analyzer.evaluate(&bare, &variables_, result, false));

    ASSERT_FALSE(analyzer.parse(L"flag && [PATHID] == 1", &record_, &variables_, result, false));
    ASSERT_FALSE(analyzer.evaluate(&bare, &variables_, result, false));
    EXPECT_EQ(result.number, 0);
    setNumber(variables_, L"flag", 3);
    EXPECT_TRUE(analyzer.evaluate(&bare, &variables_, result, false));
}

TEST_F(ParseAndEvaluate, BraceLiteralIsEvaluatedOnceAndKept) {
    bind(kBindings[0]);
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    ASSERT_FALSE(
        analyzer.parse(L"[FILENAME] == {\"*.txt\"}", &record_, &variables_, result, false));
    EXPECT_EQ(result.number, 1);
    for (const wchar_t* name : {L"A.TXT", L"b.doc", L".txt", L"x.txt.gz", L"c.Txt"}) {
        setText(record_, L"FILENAME", name);
        ASSERT_FALSE(analyzer.evaluate(&record_, &variables_, result, false));
        EXPECT_EQ(result.number, parseText(L"[FILENAME] == {\"*.txt\"}", &record_).number) << name;
    }
    // The record's own text is not changed by the lower-casing of the comparison.
    EXPECT_STREQ(static_cast<StringField*>(record_.findField(L"FILENAME"))->getValue(), L"c.Txt");
}

TEST_F(ParseAndEvaluate, AFailedParseLeavesNothingToEvaluate) {
    bind(kBindings[0]);
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    ASSERT_FALSE(analyzer.parse(L"[ATTR] + 1", &record_, &variables_, result, false));
    EXPECT_TRUE(analyzer.parse(L"[ATTR] + ", &record_, &variables_, result, false));
    result.number = 99;
    EXPECT_TRUE(analyzer.evaluate(&record_, &variables_, result, false));
    EXPECT_EQ(result.number, 99);
}

class TreeErrors : public CriteriaLog {};

TEST_F(TreeErrors, TreeEvaluationHasItsOwnMessages) {
    FieldList record = makeFields({{L"S", FT_STRING}, {L"T", FT_STRING}, {L"N", FT_UINT32}});
    FieldList other = makeFields({{L"S", FT_STRING}, {L"T", FT_BYTES}});
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    ASSERT_FALSE(analyzer.parse(L"[S] + [T]", &record, nullptr, result, false));
    EXPECT_TRUE(takeMessages().empty());

    FieldList empty;
    EXPECT_TRUE(analyzer.evaluate(&empty, nullptr, result, false));
    EXPECT_TRUE(loggedOnly("l_value", "SyntaxTree::l_value - variable specified not found!\n"));
    EXPECT_TRUE(analyzer.evaluate(nullptr, nullptr, result, false));
    EXPECT_TRUE(loggedOnly("l_value", "SyntaxTree::l_value - variable specified not found!\n"));
    EXPECT_TRUE(analyzer.evaluate(&other, nullptr, result, false));  // a byte field: no message
    EXPECT_TRUE(takeMessages().empty());

    setText(record, L"S", std::wstring(4194304, L's'));
    EXPECT_TRUE(analyzer.evaluate(&record, nullptr, result, false));
    EXPECT_TRUE(loggedOnly("l_value", "SyntaxTree::l_value - string space not available\n"));

    // Concatenation: lengths adding up to 4194302 fit, 4194303 do not.
    setText(record, L"S", std::wstring(4194300, L's'));
    setText(record, L"T", L"tt");
    ASSERT_FALSE(analyzer.evaluate(&record, nullptr, result, false));
    EXPECT_EQ(result.textLength(), 4194302u);
    setText(record, L"T", L"ttt");
    EXPECT_TRUE(analyzer.evaluate(&record, nullptr, result, false));
    EXPECT_TRUE(loggedOnly("resolve",
                           "SyntaxTree::resolve - string space not available for concatenation\n"));
}

TEST(TreeTypes, OperandsWhoseTypeChangedSinceTheParse) {
    FieldList numbers = makeFields({{L"X", FT_UINT32}, {L"Y", FT_UINT32}});
    FieldList strings = makeFields({{L"X", FT_STRING}, {L"Y", FT_STRING}});
    FieldList mixed = makeFields({{L"X", FT_STRING}, {L"Y", FT_UINT32}});
    setText(strings, L"X", L"a");
    setText(strings, L"Y", L"b");
    setText(mixed, L"X", L"a");
    struct Case {
        const wchar_t* text;
        const FieldList* record;
        Outcome expected;
    };
    const Outcome zero{false, SyntaxValue::NUMERIC, 0, L""};
    const Outcome failed{};
    const Case cases[] = {
        {L"[X] - [Y]", &strings, zero},     // no string operator: 0, no failure
        {L"[X] * [Y]", &mixed, zero},       // mixed arithmetic: 0
        {L"[X] == [Y]", &mixed, zero},      // mixed comparison: 0
        {L"-[X]", &strings, failed},        // a sign needs a number
        {L"![X]", &strings, failed},        // so does "!"
        {L"[X] || [Y]", &strings, failed},  // and "||" / "&&"
        {L"[X] && [Y]", &mixed, failed},
        {L"[X] + [Y]", &strings, Outcome{false, SyntaxValue::STRING, 0, L"ab"}},
        {L"[X] < [Y]", &strings, Outcome{false, SyntaxValue::NUMERIC, 1, L""}},
    };
    for (const Case& c : cases) {
        SyntaxAnalyzer analyzer;
        SyntaxValue result;
        ASSERT_FALSE(analyzer.parse(c.text, &numbers, nullptr, result, false))
            << utf8::fromWide(c.text);
        EXPECT_EQ(outcomeOf(analyzer.evaluate(c.record, nullptr, result, false), result),
                  c.expected)
            << utf8::fromWide(c.text);
    }
}
