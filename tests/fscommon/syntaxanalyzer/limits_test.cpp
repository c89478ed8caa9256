// Length limits, nesting limits and hostile texts.
#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "criteriatest.h"
#include "smallstack.h"
#include "syntaxanalyzer.h"
#include "syntaxlimits.h"
#include "text/strutil.h"
#include "text/utf8.h"

using criteriatest::CriteriaLog;
using criteriatest::makeFields;
using criteriatest::Outcome;
using criteriatest::outcomeOf;
using criteriatest::parseText;

namespace {

std::wstring repeat(const std::wstring& part, int times) {
    std::wstring out;
    for (int i = 0; i < times; ++i)
        out += part;
    return out;
}

std::wstring quoted(size_t length, wchar_t c) {
    return L"\"" + std::wstring(length, c) + L"\"";
}

}  // namespace

class Limits : public CriteriaLog {};

TEST_F(Limits, ConcatenationStopsBelow4194304Units) {
    // Lengths adding up to 4194302 fit (with the terminator, 4194303 units)...
    const Outcome fits = parseText(quoted(2097151, L'a') + L" + " + quoted(2097151, L'b'));
    ASSERT_FALSE(fits.failed);
    EXPECT_EQ(fits.text.size(), 4194302u);
    EXPECT_EQ(fits.text.back(), L'b');
    EXPECT_TRUE(takeMessages().empty());
    // ...4194303 do not.
    EXPECT_TRUE(parseText(quoted(2097151, L'a') + L" + " + quoted(2097152, L'b')).failed);
    EXPECT_TRUE(
        loggedOnly("expression",
                   "SyntaxAnalyzer::expression - string space not available for concatenation\n"));
}

TEST_F(Limits, LiteralsAndNamesStayBelowTheirLimits) {
    // A string literal of 4194303 units is read, one of 4194304 is no token.
    EXPECT_FALSE(parseText(quoted(4194303, L'q')).failed);
    EXPECT_TRUE(parseText(quoted(4194304, L'q')).failed);
    EXPECT_TRUE(loggedOnly("factor", "SyntaxAnalyzer::factor - unexpected sequence!\n"));

    // Identifiers: 2097151 units are a name, 2097152 are not.
    const std::wstring longest(2097151, L'v');
    FieldList variables = makeFields({{longest.c_str(), FT_UINT8}});
    EXPECT_FALSE(parseText(longest + L" == 0", nullptr, &variables).failed);
    const std::wstring tooLong = longest + L"v";
    FieldList more = makeFields({{tooLong.c_str(), FT_UINT8}});
    EXPECT_TRUE(parseText(tooLong + L" == 0", nullptr, &more).failed);
    EXPECT_TRUE(loggedOnly("factor", "SyntaxAnalyzer::factor - unexpected sequence!\n"));
}

TEST_F(Limits, NestingDeeperThanTheLimitFailsCleanly) {
    const int n = syntax::kMaxNesting;
    EXPECT_EQ(parseText(repeat(L"(", n) + L"1" + repeat(L")", n)).number, 1);
    EXPECT_EQ(parseText(repeat(L"!", n) + L"0").number, 0);  // an even count
    EXPECT_EQ(parseText(repeat(L"-", n) + L"5").number, 5);
    EXPECT_EQ(parseText(repeat(L"(-!", n / 3) + L"0" + repeat(L")", n / 3)).number, -1);
    EXPECT_TRUE(takeMessages().empty());

    const std::string message = "SyntaxAnalyzer::factor - nesting deeper than " +
                                std::to_string(n) + " levels, cannot parse\n";
    for (const std::wstring& text :
         {repeat(L"(", n + 1) + L"1" + repeat(L")", n + 1), repeat(L"!", n + 1) + L"0",
          repeat(L"+", n + 1) + L"0", repeat(L"(!", n) + L"1",
          repeat(L"(", 200000) + L"1" + repeat(L")", 200000)}) {
        EXPECT_TRUE(parseText(text).failed);
        EXPECT_TRUE(loggedOnly("factor", message)) << text.size();
    }
}

TEST_F(Limits, TreesTallerThanTheLimitFailCleanly) {
    // A chain of n operators is n + 1 nodes tall.
    const int n = syntax::kMaxTreeHeight - 1;
    const std::wstring tallest = L"1" + repeat(L" + 1", n);
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    ASSERT_FALSE(analyzer.parse(tallest.c_str(), nullptr, nullptr, result, false));
    EXPECT_EQ(result.number, n + 1);
    result.number = 0;
    ASSERT_FALSE(analyzer.evaluate(nullptr, nullptr, result, false));
    EXPECT_EQ(result.number, n + 1);

    const std::string deeper = " - expression deeper than " +
                               std::to_string(syntax::kMaxTreeHeight) + " levels, cannot parse\n";
    EXPECT_TRUE(parseText(tallest + L" + 1").failed);
    EXPECT_TRUE(loggedOnly("expression", "SyntaxAnalyzer::expression" + deeper));
    EXPECT_TRUE(parseText(L"1" + repeat(L" || 1", n + 1)).failed);
    EXPECT_TRUE(loggedOnly("bExpression", "SyntaxAnalyzer::bExpression" + deeper));
    EXPECT_TRUE(parseText(L"1" + repeat(L" == 1", 100000)).failed);
    EXPECT_TRUE(loggedOnly("relation", "SyntaxAnalyzer::relation" + deeper));
    // Parentheses and signs add to the height of the chain inside them.
    EXPECT_TRUE(parseText(L"-(" + tallest + L")").failed);
    EXPECT_TRUE(loggedOnly("factor", "SyntaxAnalyzer::factor" + deeper));
}

// The deepest texts the parser accepts parse, evaluate and are released on a thread with a
// small stack; past the limits they fail instead of overflowing it.
TEST(HostileInput, DeepestCriteriaFitASmallStack) {
    const int n = syntax::kMaxNesting;
    const std::wstring tallChain = L"1" + repeat(L" + 1", syntax::kMaxTreeHeight - 1);
    const std::wstring texts[] = {
        repeat(L"(", n) + L"1" + repeat(L")", n),
        repeat(L"(!", n / 2) + L"1" + repeat(L")", n / 2),
        // n - 1 signs and a parenthesis around a chain: n levels, and the tallest tree.
        repeat(L"-", n - 1) + L"(1" + repeat(L" * 1", syntax::kMaxTreeHeight - n) + L")",
        tallChain,
        tallChain + L" + 1",
        repeat(L"(", 100000),
    };
    for (const std::wstring& text : texts) {
        bool parsed = false;
        bool evaluated = false;
        ASSERT_TRUE(testsupport::runWithStack(256 * 1024, [&] {
            SyntaxAnalyzer analyzer;
            SyntaxValue result;
            parsed = !analyzer.parse(text.c_str(), nullptr, nullptr, result, false);
            evaluated = !analyzer.evaluate(nullptr, nullptr, result, false);
        }));
        EXPECT_EQ(parsed, evaluated);
        EXPECT_EQ(parsed, &text < &texts[4]) << text.size();
    }
}

namespace {

// Random criteria: well-typed expressions built from every operator and operand kind, some of
// them damaged by a stray fragment, and texts of random fragments and characters.
class RandomCriteria {
  public:
    explicit RandomCriteria(uint32_t seed) : rng_(seed) {}

    std::wstring next() {
        switch (below(10)) {
            case 0:
                return fragments(below(14));
            case 1: {
                std::wstring text;
                for (int i = below(24); i > 0; --i)
                    text += static_cast<wchar_t>(9 + below(118));
                return text;
            }
            case 2:
            case 3: {
                std::wstring text = numeric(3);
                const size_t at = static_cast<size_t>(below(static_cast<int>(text.size()) + 1));
                return text.insert(at, fragments(1));
            }
            default:
                return numeric(4);
        }
    }

  private:
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    std::wstring pick(std::initializer_list<const wchar_t*> options) {
        return options.begin()[below(static_cast<int>(options.size()))];
    }
    std::wstring group(const std::wstring& e) { return below(3) ? L"(" + e + L")" : e; }

    std::wstring numeric(int depth) {
        if (depth == 0 || below(4) == 0) {
            return pick({L"0", L"1", L"2", L"7", L"9223372036854775807", L"18446744073709551615",
                         L".5", L"[A]", L"[B]", L"v", L"w", L"[A]", L"v", L")"});
        }
        switch (below(8)) {
            case 0:
                return group(numeric(depth - 1)) +
                       pick({L" + ", L" - ", L"*", L" / ", L" & ", L"|", L" && ", L" || "}) +
                       group(numeric(depth - 1));
            case 1:
                return group(numeric(depth - 1)) +
                       pick({L" == ", L"!=", L" < ", L" > ", L"<=", L" >= ", L"=="}) +
                       group(numeric(depth - 1));
            case 2:
                return group(text(depth - 1)) + pick({L" == ", L" != ", L" <= ", L" > "}) +
                       group(text(depth - 1));
            case 3:
                return pick({L"!", L"-", L"+", L"!"}) + group(numeric(depth - 1));
            case 4:
                return group(text(depth - 1)) + pick({L" == ", L"!="}) +
                       pick({L"{\"*.txt\" \"a?\" \"x\" \"pre*\"}", L"{}", L"{\"*\"}", L"{\"X\"}"});
            case 5:
                return pick({L"[A]", L"[B]", L"v", L"w", L"-[A]", L"![B]"}) + L" == " +
                       pick({L"1", L"0", L"2 + 3", L"1099511627776", L"-1", L")"});
            case 6:
                return pick({L"[S]", L"s", L"\"x\""}) + L" == " +
                       pick({L"\"x\"", L"\"a.txt\"", L"\"a*\"", L"\"X\" + \"\"", L"[S]"});
            default:
                return group(numeric(depth - 1)) + L" && " + group(numeric(depth - 1));
        }
    }

    std::wstring text(int depth) {
        if (depth == 0 || below(3) == 0)
            return pick({L"\"x\"", L"\"a*\"", L"\"\"", L"\"X?\"", L"\"pre-s\"", L"[S]", L"s",
                         L"[S]", L"s"});
        return group(text(depth - 1)) + L" + " + group(text(depth - 1));
    }

    std::wstring fragments(int count) {
        static const wchar_t* const kFragments[] = {
            L"(",  L")",  L"[A]",   L"[S]", L"[Z]",         L"v", L"s",  L"q",  L"0", L"1",
            L"1.", L".5", L"\"x\"", L"\"",  L"{\"*.txt\"}", L"{", L"}",  L"+",  L"-", L"*",
            L"/",  L"&",  L"|",     L"&&",  L"||",          L"!", L"==", L"!=", L"<", L">=",
            L" ",  L"\t", L".",     L",",   L";",           L"=", L"[",  L"]",  L"_", L"\u00e9"};
        std::wstring out;
        for (int i = 0; i < count; ++i)
            out += kFragments[below(static_cast<int>(std::size(kFragments)))];
        return out;
    }

    std::mt19937 rng_;
};

// Values other than the hint's constant that a field or variable takes in turn. Strings include
// wildcards, which match the constant when the field's value stands on the right of "==".
constexpr int kOtherValues = 5;

// Sets a field of the record or a variable to the variant-th value other than the hint's
// constant; false when that value would key like the constant.
bool setOtherThan(FieldList& fields, const SyntaxValue& hint, int variant) {
    Field* field = fields.findField(hint.name());
    if (field->type() == FT_STRING) {
        const std::wstring constant = hint.text();
        const std::wstring others[kOtherValues] = {constant + L"x", constant + L"yy",
                                                   constant + L"*", L"*",
                                                   std::wstring(constant.size(), L'?')};
        if (compareNoCase(others[variant].c_str(), constant.c_str()) == 0)
            return false;
        static_cast<StringField*>(field)->setValue(others[variant].c_str());
    } else {
        const uint64_t other = static_cast<uint64_t>(hint.number) + 1 + variant;
        criteriatest::setNumber(fields, hint.name(), other);
    }
    return true;
}

}  // namespace

// Thousands of random texts: parsing never crashes, a successful parse evaluates to the same
// value, and its key hint holds: no record whose hinted field differs from the constant matches.
TEST(HostileInput, RandomTextsParseEvaluateAndHintSoundly) {
    RandomCriteria random(20240605);
    FieldList record = makeFields({{L"A", FT_UINT32}, {L"B", FT_UINT64}, {L"S", FT_STRING}});
    FieldList variables = makeFields({{L"v", FT_UINT32}, {L"w", FT_UINT8}, {L"s", FT_STRING}});
    int parsed = 0;
    int hinted = 0;
    for (int i = 0; i < 4000; ++i) {
        const std::wstring text = random.next();
        criteriatest::setNumber(record, L"A", i % 3);
        criteriatest::setNumber(record, L"B", 1ull << 40);
        criteriatest::setText(record, L"S", i % 2 ? L"a.txt" : L"X");
        criteriatest::setNumber(variables, L"v", 1);
        criteriatest::setNumber(variables, L"w", 2);
        criteriatest::setText(variables, L"s", L"pre-s");

        SyntaxAnalyzer analyzer;
        SyntaxValue result;
        const bool caseSensitive = i % 5 == 0;
        if (analyzer.parse(text.c_str(), &record, &variables, result, caseSensitive))
            continue;
        ++parsed;
        const Outcome atParse = outcomeOf(false, result);
        SyntaxValue again;
        EXPECT_EQ(outcomeOf(analyzer.evaluate(&record, &variables, again, caseSensitive), again),
                  atParse)
            << utf8::fromWide(text);

        SyntaxValue hint;
        if (!analyzer.getKeyHint(hint))
            continue;
        ++hinted;
        for (int variant = 0; variant < kOtherValues; ++variant) {
            FieldList& fields = record.findField(hint.name()) ? record : variables;
            ASSERT_NE(fields.findField(hint.name()), nullptr) << utf8::fromWide(hint.name());
            if (!setOtherThan(fields, hint, variant))
                continue;
            SyntaxValue other;
            const bool failed = analyzer.evaluate(&record, &variables, other, caseSensitive);
            EXPECT_TRUE(failed || other.type != SyntaxValue::NUMERIC || other.number == 0)
                << utf8::fromWide(text) << " matches with " << utf8::fromWide(hint.name())
                << " changed";
        }
    }
    // The generator must reach the parser's interesting paths, not just fail early.
    std::cout << parsed << " of 4000 parsed, " << hinted << " with a key hint\n";
    EXPECT_GT(parsed, 1000);
    EXPECT_GT(hinted, 100);
}
