#include <windows.h>

#include <fstream>

#include "entrysetup.h"

namespace entrysetup {

std::filesystem::path createHidden(const std::filesystem::path& dir) {
    const auto path = dir / ".hidden";
    std::ofstream(path).put('h');
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
    return path;
}

bool createDirectoryLink(const std::filesystem::path& target, const std::filesystem::path& link) {
    CreateSymbolicLinkW(link.c_str(), target.c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2 /* unprivileged */);
    // Some Wine versions answer success and make nothing.
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool createFifo(const std::filesystem::path&) {
    return false;
}

}  // namespace entrysetup
