// Platform constants shared by every unit: what differs between the Windows build and the
// Linux build in the handling of paths and names is decided here and nowhere else.
#pragma once

#include <cstddef>

namespace platform {

#if defined(_WIN32)
inline constexpr wchar_t kPathSeparator = L'\\';
inline constexpr char kPathSeparatorNarrow = '\\';
// Longest path, terminator included (MAX_PATH).
inline constexpr size_t kMaxPath = 260;
// File and directory names compare without regard to case.
inline constexpr bool kNamesCaseSensitive = false;
// File systems give 8.3 short names.
inline constexpr bool kHasShortNames = true;
inline constexpr const char* kLibrarySuffix = ".dll";
#else
inline constexpr wchar_t kPathSeparator = L'/';
inline constexpr char kPathSeparatorNarrow = '/';
// Longest path, terminator included (PATH_MAX).
inline constexpr size_t kMaxPath = 4096;
inline constexpr bool kNamesCaseSensitive = true;
inline constexpr bool kHasShortNames = false;
inline constexpr const char* kLibrarySuffix = ".so";
#endif

// Case sensitivity to use where a file or directory name would be compared without case on
// Windows: names keep their case on file systems that distinguish it.
inline constexpr bool nameCaseSensitive(bool windowsCaseSensitive) {
    return kNamesCaseSensitive || windowsCaseSensitive;
}

}  // namespace platform
