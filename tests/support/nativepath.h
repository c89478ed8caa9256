// Writes test paths once in Windows form and gets them in the form of the running platform:
// on Linux "C:\A\B" becomes "/A/B".
#pragma once

#include <string>

#include "system/platform.h"

namespace testsupport {

inline std::wstring nativePath(std::wstring path) {
    if constexpr (platform::kPathSeparator == L'/') {
        if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
            path.erase(0, 2);
        for (wchar_t& c : path) {
            if (c == L'\\')
                c = L'/';
        }
    }
    return path;
}

}  // namespace testsupport
