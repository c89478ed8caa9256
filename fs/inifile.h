// INI text: "[section]" lines, "key=value" lines, comments starting with ";" or "#", blank
// lines. Names and values are trimmed of blanks and tabs; a value wholly enclosed in double
// quotes loses them (and keeps the blanks inside). A key/value line needs a section before it.
// Lines end with LF, CRLF or CR; a UTF-8 byte-order mark at the start is skipped.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct IniEntry {
    std::string section;
    std::string key;
    std::string value;
    size_t line = 0;  // 1-based
};

struct IniText {
    std::vector<IniEntry> entries;  // in file order
    std::vector<size_t> badLines;   // 1-based numbers of lines that were skipped
};

// Parses data[0..size); never fails: every line that is not understood is listed in badLines.
IniText parseIni(const char* data, size_t size);
