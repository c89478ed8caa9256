#include <sys/stat.h>

#include <fstream>
#include <system_error>

#include "entrysetup.h"

namespace entrysetup {

std::filesystem::path createHidden(const std::filesystem::path& dir) {
    const auto path = dir / ".hidden";
    std::ofstream(path).put('h');
    return path;
}

bool createDirectoryLink(const std::filesystem::path& target, const std::filesystem::path& link) {
    std::error_code ec;
    std::filesystem::create_directory_symlink(target, link, ec);
    return !ec;
}

bool createFifo(const std::filesystem::path& path) {
    return mkfifo(path.c_str(), 0600) == 0;
}

}  // namespace entrysetup
