#include <cwchar>

#include "fsbuild/fsbuild.h"
#include "text/strutil.h"

uint32_t modeWord(uint32_t attributes, const wchar_t* longName, const wchar_t* shortName) {
    uint32_t w = (attributes & listing::kAttrSystem) ? 0x400 : 0;
    if (attributes & listing::kAttrDirectory)
        w |= 0x1;
    if (w == 0)
        w = 0x2000;
    if (attributes & listing::kAttrHidden)
        w |= 0x800;
    if (attributes & listing::kAttrReadOnly)
        w |= 0x8000;
    else
        w |= 0x124;
    w |= 0x92;
    const wchar_t* name = longName != nullptr && longName[0] != L'\0' ? longName : shortName;
    // Named *.EXE or *.COM in any case: the last four characters decide.
    const size_t length = name != nullptr ? std::wcslen(name) : 0;
    if (length >= 4 && (compareNoCaseN(name + length - 4, L".EXE", 4) == 0 ||
                        compareNoCaseN(name + length - 4, L".COM", 4) == 0)) {
        w |= 0x248;
    }
    return w;
}
