#include <unistd.h>

#include <cwchar>
#include <vector>

#include "system/platform.h"
#include "text/pathhelper.h"
#include "text/utf8.h"

std::optional<std::wstring> PathHelper::realPath(const wchar_t* path) {
    if (path == nullptr || std::wcslen(path) >= platform::kMaxPath)
        return std::nullopt;
    std::wstring full;
    if (path[0] != L'/') {
        std::vector<char> cwd(platform::kMaxPath + 1);
        if (getcwd(cwd.data(), cwd.size()) == nullptr)
            return std::nullopt;
        full = utf8::toWide(cwd.data());
        full += L'/';
    }
    full += path;

    // Fold "." and ".." lexically; the path need not exist and links are not followed.
    std::vector<std::wstring_view> parts;
    std::wstring_view rest(full);
    while (!rest.empty()) {
        size_t slash = rest.find(L'/');
        std::wstring_view part = rest.substr(0, slash);
        rest = slash == std::wstring_view::npos ? std::wstring_view() : rest.substr(slash + 1);
        if (part.empty() || part == L".")
            continue;
        if (part == L"..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::wstring result;
    for (std::wstring_view part : parts) {
        result += L'/';
        result += part;
    }
    if (result.empty())
        result = L"/";
    // A trailing separator of the input stays, as the Windows full-path function keeps it.
    const size_t length = std::wcslen(path);
    if (length > 0 && path[length - 1] == L'/' && result.back() != L'/')
        result += L'/';
    if (result.size() >= platform::kMaxPath)
        return std::nullopt;
    return result;
}
