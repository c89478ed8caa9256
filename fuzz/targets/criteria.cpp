// Criteria text, parsed and evaluated against records and variables made from the input.
//
// Input: the criteria text up to the first line feed; one line each for the texts S and T of
// the record and of the variables; then a flag byte (1 case-sensitive, 2 no record, 4 no
// variables), the seed of the pattern sets' hash tables (u32) and the numbers A, B, C, D of the
// record and of the variables (u64 each). Every further 32 bytes give the numbers of one more
// record (three at most), whose texts rotate through the four lines. Record and variables share
// one schema: A u8, B u16, C u32, D u64, S and T strings, X bytes. One more record, and one more
// set of variables, take their values from the literals of the text itself (its first four
// numbers and first two quoted strings), so that records which satisfy the criteria are common.
//
// Checked: the tree gives what the parse gave, and the same again on a second walk; a parse
// against another record gives what the tree gives for it and the same key hint; the key hint
// that a record set would follow (CriteriaEvaluator's) holds for every record that satisfies
// the criteria; a pattern set made of the text's quoted items matches exactly what those items
// match one by one.
#include <algorithm>
#include <array>
#include <cwchar>
#include <string>
#include <vector>

#include "criteriaevaluator.h"
#include "field.h"
#include "fuzzentry.h"
#include "fuzzsupport.h"
#include "indexkey.h"
#include "keyhashtable.h"
#include "patternset.h"
#include "syntaxanalyzer.h"
#include "text/strutil.h"

namespace {

constexpr size_t kExtraRecords = 3;
// Candidates the pattern-set check tries, so that a large set stays quick.
constexpr size_t kMaxCandidates = 32;

uint32_t pinnedSeed = 0;

uint32_t pinnedSeedSource() {
    return pinnedSeed;
}

struct Values {
    std::array<uint64_t, 4> numbers{};
    std::array<std::wstring, 2> texts;
};

FieldList makeFields(const Values& values) {
    FieldList fields;
    fields.addField(L"A", FT_UINT8);
    fields.addField(L"B", FT_UINT16);
    fields.addField(L"C", FT_UINT32);
    fields.addField(L"D", FT_UINT64);
    fields.addField(L"S", FT_STRING);
    fields.addField(L"T", FT_STRING);
    fields.addField(L"X", FT_BYTES);
    static_cast<UInt8Field*>(fields.fieldAt(0))->setValue(static_cast<uint8_t>(values.numbers[0]));
    static_cast<UInt16Field*>(fields.fieldAt(1))
        ->setValue(static_cast<uint16_t>(values.numbers[1]));
    static_cast<UInt32Field*>(fields.fieldAt(2))
        ->setValue(static_cast<uint32_t>(values.numbers[2]));
    static_cast<UInt64Field*>(fields.fieldAt(3))->setValue(values.numbers[3]);
    static_cast<StringField*>(fields.fieldAt(4))->setValue(values.texts[0].c_str());
    static_cast<StringField*>(fields.fieldAt(5))->setValue(values.texts[1].c_str());
    static constexpr uint8_t kBytes[] = {3, 'x', 'y', 'z'};
    static_cast<ByteStringField*>(fields.fieldAt(6))->setValue(kBytes);
    return fields;
}

struct Outcome {
    bool failed = true;
    SyntaxValue::Type type = SyntaxValue::NUMERIC;
    int64_t number = 0;
    std::wstring text;

    bool operator==(const Outcome&) const = default;
    // What the table engine counts as a match needs a non-zero number at least.
    bool satisfied() const { return !failed && type == SyntaxValue::NUMERIC && number != 0; }
};

Outcome outcomeOf(bool failed, const SyntaxValue& value) {
    Outcome outcome;
    outcome.failed = failed;
    if (!failed) {
        outcome.type = value.type;
        outcome.number = value.type == SyntaxValue::NUMERIC ? value.number : 0;
        if (value.type == SyntaxValue::STRING)
            outcome.text = value.text();
    }
    return outcome;
}

struct Hint {
    bool present = false;
    std::wstring name;
    SyntaxValue::Type type = SyntaxValue::NUMERIC;
    int64_t number = 0;
    std::wstring text;

    bool operator==(const Hint&) const = default;
};

Hint hintFrom(const SyntaxValue* value) {
    Hint hint;
    hint.present = value != nullptr;
    if (hint.present) {
        hint.name = value->name();
        hint.type = value->type;
        if (value->type == SyntaxValue::NUMERIC)
            hint.number = value->number;
        else
            hint.text = value->text();
    }
    return hint;
}

Hint hintOf(const SyntaxAnalyzer& analyzer) {
    SyntaxValue value;
    return hintFrom(analyzer.getKeyHint(value) ? &value : nullptr);
}

// The hint a record set follows: the evaluator's, which leaves out a name that is also a bound
// variable's.
Hint evaluatorHint(const std::wstring& text, const FieldList* record, const FieldList* variables) {
    CriteriaEvaluator criteria(text.c_str());
    criteria.setRecord(record);
    criteria.setVariables(variables);
    return hintFrom(criteria.getKeyHint());
}

// A record set that follows the hint visits only the records filed under the hint's key in the
// index of the field it names: a record that satisfies the criteria must be filed there.
void checkHintHolds(const Hint& hint, const FieldList* record, const Outcome& outcome) {
    if (!hint.present || record == nullptr || !outcome.satisfied())
        return;
    const Field* field = record->findField(hint.name.c_str());
    IndexKey fieldKey;
    if (field == nullptr || !fieldKey.assign(*field))
        return;  // no index can serve the hint
    IndexKey hintKey;
    if (hint.type == SyntaxValue::NUMERIC)
        hintKey.assignNumber(static_cast<uint64_t>(hint.number));
    else
        hintKey.assignText(hint.text.c_str());
    FUZZ_CHECK(std::wcscmp(fieldKey.text(), hintKey.text()) == 0);
}

// The quoted items of a brace literal's content, read as the pattern set reads them.
std::vector<std::wstring> quotedItems(const std::wstring& content) {
    std::vector<std::wstring> items;
    size_t at = content.find(L'"');
    while (at != std::wstring::npos) {
        const size_t end = content.find(L'"', at + 1);
        items.push_back(content.substr(at + 1, end == std::wstring::npos ? end : end - at - 1));
        if (end == std::wstring::npos)
            break;
        at = content.find(L'"', end + 1);
    }
    return items;
}

void checkPatternSet(const std::wstring& content, std::vector<std::wstring> candidates,
                     bool caseSensitive) {
    PatternSet set;
    set.fill(content);
    set.build(caseSensitive);
    std::vector<std::wstring> items = quotedItems(content);
    for (std::wstring& item : items) {
        // Candidates that hit: the items themselves, and with every wildcard filled in.
        if (candidates.size() < kMaxCandidates)
            candidates.push_back(item);
        std::wstring filled = item;
        std::replace(filled.begin(), filled.end(), L'*', L'x');
        std::replace(filled.begin(), filled.end(), L'?', L'y');
        if (candidates.size() < kMaxCandidates)
            candidates.push_back(filled);
        toLower(item.data());
    }
    for (std::wstring& candidate : candidates) {
        toLower(candidate.data());
        // The empty item is no pattern: it is left out of the set.
        const bool expected = std::any_of(items.begin(), items.end(), [&](const std::wstring& i) {
            return !i.empty() && matchWildcard(i.c_str(), candidate.c_str(), caseSensitive);
        });
        FUZZ_CHECK(set.matches(candidate) == expected);
    }
}

// Text of one input line, cut where a C string would end.
std::wstring lineText(fuzz::ByteReader& reader) {
    std::wstring text = fuzz::wideText(reader.line());
    text.resize(std::wcslen(text.c_str()));
    return text;
}

void readNumbers(fuzz::ByteReader& reader, Values& values) {
    for (uint64_t& n : values.numbers)
        n = reader.u64();
}

// Values from the literals of the text: its first number literals and quoted strings.
Values literalValues(const std::wstring& text) {
    Values values;
    size_t count = 0;
    for (size_t i = 0; i < text.size() && count < values.numbers.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            continue;
        size_t end = i;
        while (end < text.size() && text[end] >= L'0' && text[end] <= L'9')
            ++end;
        values.numbers[count++] =
            static_cast<uint64_t>(parseDecimal64(text.substr(i, end - i).c_str()));
        i = end;
    }
    const std::vector<std::wstring> quoted = quotedItems(text);
    for (size_t i = 0; i < quoted.size() && i < values.texts.size(); ++i)
        values.texts[i] = quoted[i];
    return values;
}

// One more record (and variables) against the tree of the first parse.
class OtherRecords {
  public:
    OtherRecords(SyntaxAnalyzer& analyzer, const std::wstring& text, const Hint& hint,
                 bool caseSensitive)
        : analyzer_(analyzer), text_(text), hint_(hint), caseSensitive_(caseSensitive) {}

    void check(const FieldList* record, const FieldList* variables, const Hint& followed) {
        SyntaxValue value;
        const Outcome evaluated =
            outcomeOf(analyzer_.evaluate(record, variables, value, caseSensitive_), value);
        checkHintHolds(followed, record, evaluated);

        // Parsing evaluates every operand; the tree skips what "&&" and "||" decide without.
        // So where a parse against this record succeeds, the tree must agree with it.
        SyntaxAnalyzer fresh;
        const Outcome reparsed =
            outcomeOf(fresh.parse(text_.c_str(), record, variables, value, caseSensitive_), value);
        if (!reparsed.failed) {
            FUZZ_CHECK(evaluated == reparsed);
            FUZZ_CHECK(hintOf(fresh) == hint_);
        }
    }

  private:
    SyntaxAnalyzer& analyzer_;
    const std::wstring& text_;
    const Hint& hint_;
    bool caseSensitive_;
};

}  // namespace

VIGIL_FUZZ_ENTRY(criteria) {
    fuzz::ByteReader reader(data, size);
    const std::wstring text = lineText(reader);
    std::array<std::wstring, 4> lines;
    for (std::wstring& line : lines)
        line = lineText(reader);
    const uint8_t flags = reader.byte();
    const bool caseSensitive = (flags & 1) != 0;
    pinnedSeed = reader.u32();
    KeyHashTable::setSeedSource(pinnedSeedSource);

    Values recordValues{{}, {lines[0], lines[1]}};
    Values variableValues{{}, {lines[2], lines[3]}};
    readNumbers(reader, recordValues);
    readNumbers(reader, variableValues);
    const FieldList record = makeFields(recordValues);
    const FieldList variables = makeFields(variableValues);
    const FieldList* recordArg = (flags & 2) ? nullptr : &record;
    const FieldList* variablesArg = (flags & 4) ? nullptr : &variables;

    SyntaxAnalyzer analyzer;
    SyntaxValue value;
    const Outcome parsed = outcomeOf(
        analyzer.parse(text.c_str(), recordArg, variablesArg, value, caseSensitive), value);
    const Hint hint = hintOf(analyzer);

    std::vector<std::wstring> candidates(lines.begin(), lines.end());
    checkPatternSet(text, candidates, caseSensitive);

    if (parsed.failed) {
        FUZZ_CHECK(!hint.present);
        FUZZ_CHECK(analyzer.evaluate(recordArg, variablesArg, value, caseSensitive));
        return;
    }
    for (int walk = 0; walk < 2; ++walk) {
        const Outcome evaluated =
            outcomeOf(analyzer.evaluate(recordArg, variablesArg, value, caseSensitive), value);
        FUZZ_CHECK(evaluated == parsed);
    }
    const Hint followed = evaluatorHint(text, recordArg, variablesArg);
    checkHintHolds(followed, recordArg, parsed);

    OtherRecords others(analyzer, text, hint, caseSensitive);
    const FieldList literal = makeFields(literalValues(text));
    if (recordArg != nullptr) {
        others.check(&literal, variablesArg, followed);
        if (variablesArg != nullptr) {
            // Variables bound to the literals: a hint that names a variable must not pass for
            // the field of that name.
            others.check(&literal, &literal, evaluatorHint(text, &literal, &literal));
            others.check(recordArg, &literal, evaluatorHint(text, recordArg, &literal));
        }
    }
    for (size_t k = 1; k <= kExtraRecords && reader.remaining() > 0; ++k) {
        Values values{{}, {lines[k % 4], lines[(k + 1) % 4]}};
        readNumbers(reader, values);
        const FieldList other = makeFields(values);
        others.check(recordArg ? &other : nullptr, variablesArg, followed);
    }
}
