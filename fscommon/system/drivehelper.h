// Lists the drives of chosen types with their file-system names, and answers which drive a
// path lies on. On Linux a "drive" is a mounted file system and its root the mount point.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "log/rklog.h"
#include "system/drivetable.h"

struct DriveInfo {
    // The root without its trailing separator (C:); on Linux the mount point ("/" stays "/").
    std::wstring root;
    // The file-system name, or "Unknown" when it could not be obtained.
    std::wstring fileSystemName;
    uint32_t typeBit = 0;
};

using DriveList = std::vector<DriveInfo>;

class DriveHelper {
  public:
    explicit DriveHelper(DriveSource source = DriveSource());

    // Appends every drive whose type bit is in typeMask, in the order of the roots. False only
    // when the list of roots cannot be read.
    bool buildDriveList(DriveList& list, uint32_t typeMask);

    // The drive that holds path (an absolute path): the one with the longest root that is a
    // prefix of it on a component boundary, of any type (bit 0 for virtual file systems).
    std::optional<DriveInfo> driveOfPath(const wchar_t* path);

    // Roots of the drives that are not fixed, sorted: on Linux the mount points that a scan
    // does not cross.
    std::vector<std::wstring> nonFixedMountPoints();
    // True when path is one of points.
    static bool isNonFixedMountPoint(const std::vector<std::wstring>& points, const wchar_t* path);

  private:
    // The full table of drives, read once.
    const DriveTable* table();

    RkLogWrapper* log_;
    DriveSource source_;
    std::optional<DriveTable> table_;
};
