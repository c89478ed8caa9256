// One monitored path and an ordered list of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct MonitoredPath {
    MonitoredPath() = default;
    MonitoredPath(const wchar_t* text, uint8_t isRecursive)
        : path(text ? std::optional<std::wstring>(text) : std::nullopt), recursive(isRecursive) {}
    MonitoredPath(std::wstring text, uint8_t isRecursive)
        : path(std::move(text)), recursive(isRecursive) {}

    // The path text as a C string, or null when the record has none.
    const wchar_t* text() const { return path ? path->c_str() : nullptr; }

    std::optional<std::wstring> path;
    // 1 when the subdirectories below the path are included, 0 when only the directory is.
    uint8_t recursive = 0;
};

using MonitoredPathList = std::vector<MonitoredPath>;
