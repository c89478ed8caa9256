// Runs the real vigil-query program and returns what it printed, for the query tool's tests.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "testsupport.h"
#include "text/utf8.h"

namespace querytest {

struct Output {
    int code = -1;
    std::string out;
    std::string err;
};

// A file-system path from wide text, whatever the test process's locale (Linux: UTF-8).
inline std::filesystem::path osPath(const std::wstring& text) {
    if constexpr (sizeof(wchar_t) == 2)
        return std::filesystem::path(text);
    else
        return std::filesystem::path(utf8::fromWide(text));
}

// Runs vigil-query with args (not including its name) and collects its output.
inline Output query(const std::vector<std::wstring>& args) {
    testsupport::TempDir dir;
    Output result;
    auto child = testsupport::Child::start(testsupport::programPath(L"vigil-query"), args,
                                           dir.path() / "err", dir.path() / "out");
    if (!child)
        return result;
    result.code = child->wait(120000);
    if (result.code == -1)
        child->kill();
    result.out = testsupport::readText(dir.path() / "out");
    result.err = testsupport::readText(dir.path() / "err");
    return result;
}

// text cut at every end byte (the last one ends the last piece).
inline std::vector<std::string> split(const std::string& text, char end = '\n') {
    std::vector<std::string> pieces;
    size_t from = 0;
    for (size_t at = text.find(end); at != std::string::npos; at = text.find(end, from)) {
        pieces.push_back(text.substr(from, at - from));
        from = at + 1;
    }
    if (from < text.size())
        pieces.push_back(text.substr(from));
    return pieces;
}

// The pieces of text in sorted order: search results come in the order of the files table.
inline std::vector<std::string> sorted(const std::string& text, char end = '\n') {
    std::vector<std::string> pieces = split(text, end);
    std::sort(pieces.begin(), pieces.end());
    return pieces;
}

}  // namespace querytest
