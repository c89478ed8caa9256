// The platform's table of drives: logical drive roots on Windows, mount points on Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Drive type bits; 0 is an unknown type, which no mask selects.
inline constexpr uint32_t DRIVE_TYPE_REMOVABLE = 1;
inline constexpr uint32_t DRIVE_TYPE_FIXED = 2;
inline constexpr uint32_t DRIVE_TYPE_REMOTE = 4;
inline constexpr uint32_t DRIVE_TYPE_CDROM = 8;
inline constexpr uint32_t DRIVE_TYPE_RAMDISK = 16;
inline constexpr uint32_t DRIVE_TYPE_ALL = 31;

// Where the Linux table is read from (tests point these at fixtures); unused on Windows.
struct DriveSource {
    std::wstring mountInfo = L"/proc/self/mountinfo";
    std::wstring sysDevBlock = L"/sys/dev/block";
};

struct DriveEntry {
    // As the platform lists it: C:\ on Windows, the mount point on Linux.
    std::wstring root;
    uint32_t typeBit = 0;
};

class DriveTable {
  public:
    // Reads the drives, in the order of their roots. rootsChars receives the size in
    // characters of the platform's list of roots. False when that list could not be read.
    static bool load(DriveTable& table, size_t* rootsChars, const DriveSource& source);

    DriveTable();
    ~DriveTable();
    DriveTable(DriveTable&&) noexcept;
    DriveTable& operator=(DriveTable&&) noexcept;

    const std::vector<DriveEntry>& entries() const { return entries_; }
    // The file-system name (NTFS, ext4), or nothing when the volume cannot be queried.
    std::optional<std::wstring> fileSystemName(const DriveEntry& entry) const;

    struct Impl;

  private:
    std::vector<DriveEntry> entries_;
    std::unique_ptr<Impl> impl_;
};
