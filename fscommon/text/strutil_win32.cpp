#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "text/strutil.h"

int removeFile(const wchar_t* path) {
    return path ? _wremove(path) : -1;
}

std::wstring toWide(const char* narrow) {
    if (narrow == nullptr)
        return std::wstring();
    // Two units more than the narrow text and its terminator, zero-filled.
    const size_t n = std::strlen(narrow);
    std::vector<wchar_t> buffer(n + 3, L'\0');
    std::mbstowcs(buffer.data(), narrow, n + 1);
    return std::wstring(buffer.data());
}
