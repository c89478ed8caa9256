#include <string_view>

#include "fsbuild/fsbuild.h"
#include "log/rklog.h"
#include "system/platform.h"

namespace {

constexpr char kLogModule[] = "fscommon/fsbuild";

// A drive root, valid without a look-up: "C:\" on Windows, "/" on Linux.
bool isDriveRoot(std::wstring_view path) {
    if constexpr (platform::kPathSeparator == L'/')
        return path == L"/";
    const wchar_t letter = path.empty() ? L'\0' : static_cast<wchar_t>(path[0] | 0x20);
    return path.size() == 3 && letter >= L'a' && letter <= L'z' && path[1] == L':' &&
           path[2] == L'\\';
}

}  // namespace

bool fs_isValidPath(const wchar_t* path) {
    RkLogWrapper* log = getRkLogFs();
    if (path == nullptr) {
        LOG_TRACE(log, "::isValidPath - path name specified is null\n");
        return false;
    }
    std::wstring_view text(path);
    if (isDriveRoot(text))
        return true;
    if (!text.empty() && text.back() == platform::kPathSeparator)
        text.remove_suffix(1);
    listing::ListingEntry entry;
    const uint32_t error = listing::lookupEntry(text, entry);
    if (error != 0) {
        const std::wstring shown(text);
        LOG_TRACE(log, "::isValidPath - invalid file handle. Error %u opening '%S' path\n", error,
                  shown.c_str());
        return false;
    }
    return entry.isDirectory() && !entry.isReparsePoint();
}
