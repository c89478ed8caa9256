// The small files beside the tables: the directory counter, the update marker and the exclusion
// digests.
#include <cstdint>

#include "cache/cacheschema.h"
#include "cache/fscache.h"
#include "file.h"
#include "text/pathhelper.h"
#include "text/strutil.h"

namespace {

constexpr char kLogModule[] = "fscommon/cache";

constexpr uint32_t kCounterSize = 4;

}  // namespace

std::wstring FS_Cache::markerPath(const wchar_t* suffix) const {
    return PathHelper::joinPath(cachePathName, directoriesTableName + suffix);
}

bool FS_Cache::readDirectoriesIndex() {
    auto file = createFile(markerPath(cacheschema::kCounterSuffix).c_str());
    if (!file->open())
        return false;
    // Exactly the four bytes that were written: a file of another size (cut short, or left with
    // the zero room of a writer that died) is not a counter.
    uint32_t size = 0;
    uint8_t bytes[kCounterSize] = {};
    const bool read = file->getSize(size) && size == kCounterSize &&
                      file->read(bytes, kCounterSize) == kCounterSize;
    file->close();
    if (!read)
        return false;
    directoriesIndex = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                       static_cast<uint32_t>(bytes[2]) << 16 |
                       static_cast<uint32_t>(bytes[3]) << 24;
    return true;
}

bool FS_Cache::writeDirectoriesIndex() {
    auto file = createFile(markerPath(cacheschema::kCounterSuffix).c_str());
    if (!file->create())
        return false;
    const uint8_t bytes[kCounterSize] = {
        static_cast<uint8_t>(directoriesIndex), static_cast<uint8_t>(directoriesIndex >> 8),
        static_cast<uint8_t>(directoriesIndex >> 16), static_cast<uint8_t>(directoriesIndex >> 24)};
    const bool written = file->write(bytes, kCounterSize) == kCounterSize;
    return file->close() && written;
}

void FS_Cache::removeDirectoriesIndex() {
    removeFile(markerPath(cacheschema::kCounterSuffix).c_str());
}

void FS_Cache::beginCacheUpdate() {
    if (!cacheCheckerEnabled)
        return;
    const std::wstring path = markerPath(cacheschema::kUpdateMarkerSuffix);
    LOG_TRACE(log, "FS_Cache::beginCacheUpdate - begin cache update: %ls\n", path.c_str());
    auto file = createFile(path.c_str());
    if (file->create())
        file->close();
}

void FS_Cache::endCacheUpdate() {
    if (!cacheCheckerEnabled)
        return;
    const std::wstring path = markerPath(cacheschema::kUpdateMarkerSuffix);
    LOG_TRACE(log, "FS_Cache::endCacheUpdate - end cache update: %ls\n", path.c_str());
    removeFile(path.c_str());
}

bool FS_Cache::insideCacheUpdate() {
    if (!cacheCheckerEnabled) {
        LOG_TRACE(log, "FS_Cache::insideCacheUpdate - cacheChecker disabled!\n");
        return false;
    }
    auto file = createFile(markerPath(cacheschema::kUpdateMarkerSuffix).c_str());
    const bool inside = file->open();
    if (inside)
        file->close();
    LOG_TRACE(log, "FS_Cache::insideCacheUpdate - inside cache update = %s\n",
              inside ? "true" : "false");
    return inside;
}

void FS_Cache::removeExclusionHashes() {
    // Deleted by its wide path: a name that the multibyte code page cannot spell still goes.
    removeFile(exclusionHashPath.c_str());
}
