#include "system/drivehelper.h"

#include <algorithm>
#include <cwchar>

#include "system/platform.h"
#include "text/strutil.h"

namespace {

constexpr char kLogModule[] = "fscommon/drivehelper";

// The root as DriveInfo keeps it: without its trailing separator, unless that is all it is.
std::wstring infoRoot(const std::wstring& root) {
    if (root.size() > 1 && root.back() == platform::kPathSeparator) {
        return root.substr(0, root.size() - 1);
    }
    return root;
}

// True when root names path or a directory above it.
bool rootHolds(const std::wstring& root, const wchar_t* path) {
    const size_t n = root.size();
    if (std::wcslen(path) < n)
        return false;
    const bool same = platform::kNamesCaseSensitive ? std::wcsncmp(root.c_str(), path, n) == 0
                                                    : compareNoCaseN(root.c_str(), path, n) == 0;
    if (!same)
        return false;
    return root.back() == platform::kPathSeparator || path[n] == L'\0' ||
           path[n] == platform::kPathSeparator;
}

}  // namespace

DriveHelper::DriveHelper(DriveSource source) : log_(getRkLogFs()), source_(std::move(source)) {}

const DriveTable* DriveHelper::table() {
    if (!table_) {
        DriveTable loaded;
        if (!DriveTable::load(loaded, nullptr, source_))
            return nullptr;
        table_ = std::move(loaded);
    }
    return &*table_;
}

bool DriveHelper::buildDriveList(DriveList& list, uint32_t typeMask) {
    DriveTable drives;
    size_t rootsChars = 0;
    const bool loaded = DriveTable::load(drives, &rootsChars, source_);
    LOG_TRACE(log_, "DriveHelper::buildDriveList - drivesBufferLen = %d (characters)\n",
              static_cast<int>(rootsChars));
    if (!loaded)
        return false;
    for (const DriveEntry& drive : drives.entries()) {
        LOG_TRACE(log_, "DriveHelper::buildDriveList - check for drive '%S'...\n",
                  drive.root.c_str());
        if ((drive.typeBit & typeMask) == 0)
            continue;
        std::wstring fileSystem = L"Unknown";
        if (auto name = drives.fileSystemName(drive)) {
            fileSystem = *name;
        } else {
            LOG_TRACE(log_, "DriveHelper::buildDriveList - GetVolumeInformation(...) failed!\n");
        }
        LOG_TRACE(log_, "DriveHelper::buildDriveList - drive: %S (%S), %d\n", drive.root.c_str(),
                  fileSystem.c_str(), static_cast<int>(drive.typeBit));
        list.push_back(DriveInfo{infoRoot(drive.root), fileSystem, drive.typeBit});
    }
    return true;
}

std::optional<DriveInfo> DriveHelper::driveOfPath(const wchar_t* path) {
    const DriveTable* drives = table();
    if (drives == nullptr || path == nullptr)
        return std::nullopt;
    const DriveEntry* best = nullptr;
    for (const DriveEntry& drive : drives->entries()) {
        if (rootHolds(drive.root, path) && (!best || drive.root.size() > best->root.size())) {
            best = &drive;
        }
    }
    if (best == nullptr)
        return std::nullopt;
    return DriveInfo{infoRoot(best->root), drives->fileSystemName(*best).value_or(L"Unknown"),
                     best->typeBit};
}

std::vector<std::wstring> DriveHelper::nonFixedMountPoints() {
    std::vector<std::wstring> points;
    const DriveTable* drives = table();
    if (drives == nullptr)
        return points;
    for (const DriveEntry& drive : drives->entries()) {
        if (drive.typeBit != DRIVE_TYPE_FIXED)
            points.push_back(drive.root);
    }
    return points;  // in the table's order, which is sorted
}

bool DriveHelper::isNonFixedMountPoint(const std::vector<std::wstring>& points,
                                       const wchar_t* path) {
    return path != nullptr && std::binary_search(points.begin(), points.end(), std::wstring(path));
}
