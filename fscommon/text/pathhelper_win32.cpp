#include <cstdlib>
#include <cwchar>

#include "system/platform.h"
#include "text/pathhelper.h"

std::optional<std::wstring> PathHelper::realPath(const wchar_t* path) {
    if (path == nullptr || std::wcslen(path) >= platform::kMaxPath)
        return std::nullopt;
    wchar_t buffer[platform::kMaxPath];
    if (_wfullpath(buffer, path, platform::kMaxPath) == nullptr)
        return std::nullopt;
    return std::wstring(buffer);
}
