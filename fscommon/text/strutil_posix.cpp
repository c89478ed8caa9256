#include <cstdio>

#include "text/strutil.h"
#include "text/utf8.h"

int removeFile(const wchar_t* path) {
    return path ? std::remove(utf8::fromWide(path).c_str()) : -1;
}

std::wstring toWide(const char* narrow) {
    return narrow ? utf8::toWide(narrow) : std::wstring();
}
