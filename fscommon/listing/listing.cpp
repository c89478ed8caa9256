#include "listing/listing.h"

#include "listing/listingos.h"
#include "system/platform.h"

namespace listing {

namespace {

// A root keeps its separator: "/" on Linux, "C:\" on Windows.
bool isRoot(std::wstring_view path) {
    if (path.size() == 1)
        return true;
    return platform::kPathSeparator == L'\\' && path.size() == 3 && path[1] == L':';
}

}  // namespace

uint32_t lookupEntry(std::wstring_view path, ListingEntry& entry) {
    // A trailing separator still names the entry: Windows would refuse the path, and Linux
    // would follow a symbolic link to a directory.
    while (path.size() > 1 && path.back() == platform::kPathSeparator && !isRoot(path))
        path.remove_suffix(1);
    return os::lookup(path, entry);
}

}  // namespace listing
