#include "criteriatest.h"

#include <ostream>
#include <sstream>

#include "text/utf8.h"

namespace criteriatest {

namespace {

constexpr char kModule[] = "fscommon/syntaxanalyzer:";

}  // namespace

void setNumber(FieldList& fields, const wchar_t* name, uint64_t value) {
    Field* field = fields.findField(name);
    ASSERT_NE(field, nullptr);
    switch (field->type()) {
        case FT_UINT8:
            static_cast<UInt8Field*>(field)->setValue(static_cast<uint8_t>(value));
            break;
        case FT_UINT16:
            static_cast<UInt16Field*>(field)->setValue(static_cast<uint16_t>(value));
            break;
        case FT_UINT32:
            static_cast<UInt32Field*>(field)->setValue(static_cast<uint32_t>(value));
            break;
        case FT_UINT64:
            static_cast<UInt64Field*>(field)->setValue(value);
            break;
        default:
            FAIL() << "not a number field";
    }
}

void setText(FieldList& fields, const wchar_t* name, const std::wstring& text) {
    Field* field = fields.findField(name);
    ASSERT_NE(field, nullptr);
    ASSERT_EQ(field->type(), FT_STRING);
    static_cast<StringField*>(field)->setValue(text.c_str());
}

FieldList makeFields(const std::vector<std::pair<const wchar_t*, int32_t>>& fields) {
    FieldList list;
    for (const auto& [name, type] : fields)
        list.addField(name, type);
    return list;
}

bool Outcome::operator==(const Outcome& other) const {
    if (failed || other.failed)
        return failed == other.failed;
    if (type != other.type)
        return false;
    return type == SyntaxValue::NUMERIC ? number == other.number : text == other.text;
}

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
    if (outcome.failed)
        return out << "failed";
    if (outcome.type == SyntaxValue::NUMERIC)
        return out << "NUMERIC " << outcome.number;
    return out << "STRING \"" << utf8::fromWide(outcome.text) << "\"";
}

Outcome outcomeOf(bool failed, const SyntaxValue& value) {
    Outcome o;
    o.failed = failed;
    if (!failed) {
        o.type = value.type;
        o.number = value.number;
        if (value.type == SyntaxValue::STRING)
            o.text = value.text();
    }
    return o;
}

Outcome parseText(const std::wstring& text, const FieldList* record, const FieldList* variables,
                  bool caseSensitive) {
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    const bool failed = analyzer.parse(text.c_str(), record, variables, result, caseSensitive);
    return outcomeOf(failed, result);
}

int64_t parseNumber(const std::wstring& text, const FieldList* record, const FieldList* variables,
                    bool caseSensitive) {
    const Outcome o = parseText(text, record, variables, caseSensitive);
    EXPECT_FALSE(o.failed) << utf8::fromWide(text);
    EXPECT_EQ(o.type, SyntaxValue::NUMERIC) << utf8::fromWide(text);
    return o.number;
}

std::vector<std::string> CriteriaLog::takeMessages() {
    std::istringstream in(capture_.text());
    std::vector<std::string> all;
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    std::vector<std::string> fresh;
    for (size_t i = seen_; i < all.size(); ++i) {
        // "... fscommon/syntaxanalyzer:<line> <function>: <text>"
        const size_t at = all[i].find(kModule);
        if (at == std::string::npos) {
            fresh.push_back("(other module) " + all[i]);
            continue;
        }
        const size_t space = all[i].find(' ', at);
        fresh.push_back(space == std::string::npos ? all[i] : all[i].substr(space + 1));
    }
    seen_ = all.size();
    return fresh;
}

::testing::AssertionResult CriteriaLog::loggedOnly(const char* function,
                                                   const std::string& message) {
    std::string expected = std::string(function) + ": " + message;
    while (!expected.empty() && expected.back() == '\n')
        expected.pop_back();
    const std::vector<std::string> messages = takeMessages();
    if (messages.size() == 1 && messages[0] == expected)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "expected only [" << expected << "], got";
    for (const std::string& m : messages)
        failure << " [" << m << "]";
    if (messages.empty())
        failure << " nothing";
    return failure;
}

}  // namespace criteriatest
