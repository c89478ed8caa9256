#include "pathhelper.h"

#include "platform.h"

void PathHelper::splitPath(const MonitoredPath& path, MonitoredPathList& ancestors,
                           MonitoredPathList& names) {
    if (!path.path)
        return;
    constexpr wchar_t sep = platform::kPathSeparator;
    const uint8_t recursive = path.recursive;
    std::wstring text = *path.path;
    size_t last = text.rfind(sep);
    if (text.empty() || text.back() != sep) {
        ancestors.emplace_back(text, recursive);
        names.emplace_back(last == std::wstring::npos ? text : text.substr(last + 1), recursive);
    }
    if (last == std::wstring::npos)
        return;
    // Cut at the last separator as long as another one stands before it.
    while (last > 0 && text.rfind(sep, last - 1) != std::wstring::npos) {
        text.resize(last);
        last = text.rfind(sep);
        ancestors.emplace_back(text, recursive);
        names.emplace_back(text.substr(last + 1), recursive);
    }
    std::wstring root = text.substr(0, text.find(sep) + 1);
    ancestors.emplace_back(root, recursive);
    names.emplace_back(root, recursive);
}
