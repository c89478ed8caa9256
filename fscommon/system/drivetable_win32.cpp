#include <windows.h>

#include <vector>

#include "system/drivetable.h"

struct DriveTable::Impl {};

DriveTable::DriveTable() = default;
DriveTable::~DriveTable() = default;
DriveTable::DriveTable(DriveTable&&) noexcept = default;
DriveTable& DriveTable::operator=(DriveTable&&) noexcept = default;

namespace {

uint32_t typeBitOf(UINT driveType) {
    switch (driveType) {
        case DRIVE_REMOVABLE:
            return DRIVE_TYPE_REMOVABLE;
        case DRIVE_FIXED:
            return DRIVE_TYPE_FIXED;
        case DRIVE_REMOTE:
            return DRIVE_TYPE_REMOTE;
        case DRIVE_CDROM:
            return DRIVE_TYPE_CDROM;
        case DRIVE_RAMDISK:
            return DRIVE_TYPE_RAMDISK;
        default:
            return 0;
    }
}

}  // namespace

bool DriveTable::load(DriveTable& table, size_t* rootsChars, const DriveSource&) {
    table.entries_.clear();
    const DWORD length = GetLogicalDriveStringsW(0, nullptr);
    if (rootsChars)
        *rootsChars = length;
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    if (length > 0 && GetLogicalDriveStringsW(length, buffer.data()) == 0)
        return false;
    for (const wchar_t* root = buffer.data(); *root; root += wcslen(root) + 1) {
        table.entries_.push_back(DriveEntry{root, typeBitOf(GetDriveTypeW(root))});
    }
    return true;
}

std::optional<std::wstring> DriveTable::fileSystemName(const DriveEntry& entry) const {
    wchar_t volumeName[MAX_PATH];
    wchar_t fileSystem[MAX_PATH];
    DWORD serial = 0, maxComponent = 0, flags = 0;
    if (!GetVolumeInformationW(entry.root.c_str(), volumeName, MAX_PATH, &serial, &maxComponent,
                               &flags, fileSystem, MAX_PATH)) {
        return std::nullopt;
    }
    return std::wstring(fileSystem);
}
