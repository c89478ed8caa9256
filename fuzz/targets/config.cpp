// The INI configuration text, and the number syntax of getInt in each of its values.
//
// Input: the text of the configuration file.
//
// Checked: every line is an entry, a bad line or neither, in order, and no number lies beyond
// the text's lines; sections and keys are non-empty, trimmed and hold no line break, zero byte
// or (keys) "="; each value's number agrees with a model of the syntax (signs, digits, one
// K or M, 32 bits wrapping) and never depends on the default unless the value is no number.
#include <cstdint>
#include <string>
#include <string_view>

#include "fs/inifile.h"
#include "fs/processconfig.h"
#include "fuzzentry.h"

namespace {

size_t lineCount(std::string_view text) {
    size_t lines = 0;
    for (size_t i = 0; i < text.size(); ++lines) {
        const size_t end = text.find_first_of("\r\n", i);
        if (end == std::string_view::npos)
            return lines + 1;
        i = end + 1;
        if (text[end] == '\r' && i < text.size() && text[i] == '\n')
            ++i;
    }
    return lines;
}

bool isName(const std::string& name, bool key) {
    if (name.empty() || name.front() == ' ' || name.front() == '\t' || name.back() == ' ' ||
        name.back() == '\t') {
        return false;
    }
    return name.find_first_of(key ? std::string("\r\n\0=", 4) : std::string("\r\n\0", 3)) ==
           std::string::npos;
}

// The number syntax written out once more: a value or nothing.
bool modelNumber(std::string_view text, int& value) {
    size_t i = 0;
    bool negative = false;
    for (; i < text.size() && (text[i] == '+' || text[i] == '-'); ++i)
        negative ^= text[i] == '-';
    const size_t digits = i;
    uint32_t n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        n = n * 10u + static_cast<uint32_t>(text[i] - '0');
    if (i == digits)
        return false;
    uint32_t factor = 1;
    if (i + 1 == text.size() && (text[i] == 'k' || text[i] == 'K'))
        factor = 1024;
    else if (i + 1 == text.size() && (text[i] == 'm' || text[i] == 'M'))
        factor = 1024 * 1024;
    else if (i != text.size())
        return false;
    value = static_cast<int>(factor * (negative ? 0u - n : n));
    return true;
}

void checkNumber(std::string_view text) {
    int expected = 0;
    const bool number = modelNumber(text, expected);
    const int a = parseConfigInt(text.data(), text.size(), 7);
    const int b = parseConfigInt(text.data(), text.size(), -7);
    FUZZ_CHECK(number ? (a == expected && b == expected) : (a == 7 && b == -7));
}

}  // namespace

VIGIL_FUZZ_ENTRY(config) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const IniText ini = parseIni(text.data(), text.size());
    const size_t lines = lineCount(text);
    size_t lastEntry = 0;
    for (const IniEntry& entry : ini.entries) {
        FUZZ_CHECK(entry.line > lastEntry && entry.line <= lines);
        lastEntry = entry.line;
        FUZZ_CHECK(isName(entry.section, false) && isName(entry.key, true));
        FUZZ_CHECK(entry.value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        checkNumber(entry.value);
    }
    size_t lastBad = 0;
    for (size_t line : ini.badLines) {
        FUZZ_CHECK(line > lastBad && line <= lines);
        lastBad = line;
        for (const IniEntry& entry : ini.entries)
            FUZZ_CHECK(entry.line != line);
    }
    checkNumber(text);
}
