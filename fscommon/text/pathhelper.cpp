#include "text/pathhelper.h"

#include <algorithm>

#include "system/platform.h"

std::wstring PathHelper::withTrailingSeparator(std::wstring path) {
    if (path.empty() || path.back() != platform::kPathSeparator)
        path += platform::kPathSeparator;
    return path;
}

std::wstring PathHelper::joinPath(const std::wstring& directory, std::wstring_view name) {
    std::wstring path = directory.empty() ? std::wstring() : withTrailingSeparator(directory);
    path += name;
    return path;
}

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

void PathHelper::normalisePathList(const MonitoredPathList& source, MonitoredPathList& target) {
    target.insert(target.end(), source.begin(), source.end());
    auto text = [&](size_t k) -> std::wstring_view {
        return target[k].path ? std::wstring_view(*target[k].path) : std::wstring_view();
    };
    auto erase = [&](size_t k) { target.erase(target.begin() + static_cast<ptrdiff_t>(k)); };
    size_t i = 0;
    while (i < target.size()) {
        size_t j = i + 1;
        while (j < target.size()) {
            const std::wstring_view a = text(i), b = text(j);
            const size_t n = std::min(a.size(), b.size());
            if (a.substr(0, n) != b.substr(0, n)) {
                ++j;
            } else if (a.size() < b.size()) {  // i contains j
                if (target[i].recursive) {
                    erase(j);
                } else {
                    ++j;
                }
            } else if (b.size() < a.size()) {  // j contains i
                if (target[j].recursive) {
                    erase(i);
                    j = i + 1;
                } else {
                    ++j;
                }
            } else if (target[j].recursive && !target[i].recursive) {  // the same directory
                erase(i);
                j = i + 1;
            } else {
                erase(j);
            }
        }
        ++i;
    }
}
