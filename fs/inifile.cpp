#include "inifile.h"

#include <string_view>

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// False when the line is not understood; section is updated by a section line.
bool parseLine(std::string_view line, bool& haveSection, std::string& section, IniEntry& entry,
               bool& isEntry) {
    isEntry = false;
    if (line.find('\0') != std::string_view::npos)
        return false;
    line = trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#')
        return true;
    if (line.front() == '[') {
        if (line.size() < 2 || line.back() != ']')
            return false;
        const std::string_view name = trim(line.substr(1, line.size() - 2));
        if (name.empty())
            return false;
        section.assign(name);
        haveSection = true;
        return true;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || !haveSection)
        return false;
    const std::string_view key = trim(line.substr(0, eq));
    if (key.empty())
        return false;
    std::string_view value = trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    entry.section = section;
    entry.key.assign(key);
    entry.value.assign(value);
    isEntry = true;
    return true;
}

}  // namespace

IniText parseIni(const char* data, size_t size) {
    IniText result;
    std::string_view text(data ? data : "", data ? size : 0);
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::string section;
    bool haveSection = false;
    size_t lineNumber = 0;
    while (!text.empty()) {
        const size_t end = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, end);
        size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end != std::string_view::npos && text[end] == '\r' && next < text.size() &&
            text[next] == '\n')
            ++next;
        text.remove_prefix(next);
        ++lineNumber;

        IniEntry entry;
        bool isEntry = false;
        if (!parseLine(line, haveSection, section, entry, isEntry)) {
            result.badLines.push_back(lineNumber);
        } else if (isEntry) {
            entry.line = lineNumber;
            result.entries.push_back(std::move(entry));
        }
    }
    return result;
}
