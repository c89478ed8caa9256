// Directory listings as the cache reads them: the entries of one directory, and the look-up of
// one entry by its path. Every entry carries what the Windows listing record carries (attribute
// bits, size as two 32-bit halves, long name, alternate 8.3 name), and every failure is a Win32
// error number on both platforms (sysinfo: 2 not found, 5 access denied, 18 end of listing,
// 32 sharing violation), so the callers' policy is the same everywhere.
//
// Windows: FindFirstFileW on "dir\*" or on the path, FindNextFileW, FindClose.
// Linux: opendir/readdir and fstatat without following links. The bits are mapped:
//   directory 0x10; read-only 0x1 when no write bit is set; hidden 0x2 when the name begins
//   with "."; system 0x4 for anything that is neither a regular file nor a directory; reparse
//   point 0x400 for a symbolic link (never followed) and for the mount point of a file system
//   that is not a fixed drive. The alternate name is always empty; only regular files have a
//   size. Names go through the project's UTF-8 codec, so undecodable bytes round-trip.
//
// Typical use, depth first with the parent's listing kept open:
//   listing::ListingEntry entry;           // reused: per entry nothing is allocated
//   listing::DirectoryListing dir;         // beyond growing the name once
//   if (uint32_t err = dir.open(path)) ... // 32: busy, may be retried
//   while ((err = dir.next(entry)) == 0) { if (entry.isDotEntry()) continue; ... }
//   if (err != sysinfo::kErrorNoMoreFiles) ...  // broke off part-way
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace listing {

// Attribute bits of a listing entry (the Win32 FILE_ATTRIBUTE_* values the cache uses).
inline constexpr uint32_t kAttrReadOnly = 0x1;
inline constexpr uint32_t kAttrHidden = 0x2;
inline constexpr uint32_t kAttrSystem = 0x4;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrReparsePoint = 0x400;

// Longest alternate name, terminator included.
inline constexpr size_t kShortNameMax = 14;

struct ListingEntry {
    uint32_t attributes = 0;
    uint32_t sizeHigh = 0;
    uint32_t sizeLow = 0;
    std::wstring name;       // long name, without directory
    std::wstring shortName;  // 8.3 name; empty when the volume keeps none

    bool isDirectory() const { return (attributes & kAttrDirectory) != 0; }
    bool isReparsePoint() const { return (attributes & kAttrReparsePoint) != 0; }
    // "." or "..": listed like Windows lists them; callers skip them.
    bool isDotEntry() const { return name == L"." || name == L".."; }
    uint64_t size() const { return (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow; }
};

// An open listing of one directory; closed when the object goes.
class DirectoryListing {
  public:
    DirectoryListing();
    ~DirectoryListing();
    DirectoryListing(DirectoryListing&&) noexcept;
    DirectoryListing& operator=(DirectoryListing&&) noexcept;

    // Opens the listing of directory (with or without a trailing separator); a listing already
    // open is closed first. 0, or the error number (nothing is then open).
    uint32_t open(std::wstring_view directory);
    // Opens the listing of the subdirectory name of the directory that parent lists, whose full
    // path is path. Linux opens it through parent's open directory and refuses a symbolic link,
    // since the entry may have changed since it was listed: a walk never leaves the tree it
    // started in. Windows opens path. 0, or the error number.
    uint32_t openChild(const DirectoryListing& parent, std::wstring_view name,
                       std::wstring_view path);
    // The next entry into entry, in the platform's order, "." and ".." included. 0; 18 at the
    // end; another error number when the listing broke off (it may be called again).
    uint32_t next(ListingEntry& entry);
    void close();
    bool isOpen() const { return impl_ != nullptr; }

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// The entry that path names (a file, a directory or a link, never followed), as a listing of
// its directory reports it. A trailing separator is ignored. 0, or the error number (2 when the
// entry does not exist).
uint32_t lookupEntry(std::wstring_view path, ListingEntry& entry);

}  // namespace listing
