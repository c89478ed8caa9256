// Entries that the standard library cannot make alike on both platforms.
#pragma once

#include <filesystem>

namespace entrysetup {

// An empty file that the platform shows as hidden: named ".hidden" (and, on Windows, with the
// hidden attribute).
std::filesystem::path createHidden(const std::filesystem::path& dir);
// A symbolic link at link to the directory target.
// False when the platform refuses to make one.
bool createDirectoryLink(const std::filesystem::path& target, const std::filesystem::path& link);
// A named pipe in the file system (Linux); false where there are none.
bool createFifo(const std::filesystem::path& path);

}  // namespace entrysetup
