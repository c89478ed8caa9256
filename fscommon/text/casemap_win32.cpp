#include "text/casemap.h"

#include <cwctype>

wchar_t upperChar(wchar_t c) {
    return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}

wchar_t lowerChar(wchar_t c) {
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}
