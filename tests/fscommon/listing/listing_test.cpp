#include "listing/listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "entrysetup.h"
#include "system/drivehelper.h"
#include "system/syserror_posix.h"
#include "testsupport.h"
#include "text/utf8.h"

namespace fs = std::filesystem;
using listing::DirectoryListing;
using listing::ListingEntry;

namespace {

constexpr bool kLinux = sizeof(wchar_t) == 4;
// The bits the cache looks at (Windows also reports archive, normal and others).
constexpr uint32_t kUsedBits = 0x1 | 0x2 | 0x4 | 0x10 | 0x400;

void writeBytes(const fs::path& path, size_t count) {
    std::ofstream(path, std::ios::binary) << std::string(count, 'x');
}

// Every entry of dir by name, "." and ".." included; the listing must end normally.
std::map<std::wstring, ListingEntry> listAll(const fs::path& dir) {
    std::map<std::wstring, ListingEntry> entries;
    DirectoryListing listing;
    EXPECT_EQ(listing.open(dir.wstring()), 0u);
    ListingEntry entry;
    while (listing.next(entry) == 0)
        entries[entry.name] = entry;
    // The end answers 18, also when asked again.
    EXPECT_EQ(listing.next(entry), sysinfo::kErrorNoMoreFiles);
    return entries;
}

}  // namespace

TEST(DirectoryListing, EntriesCarryMappedAttributesAndSizes) {
    testsupport::TempDir dir;
    writeBytes(dir.path() / "file.txt", 5);
    fs::create_directory(dir.path() / "sub");
    entrysetup::createHidden(dir.path());
    writeBytes(dir.path() / "readonly.txt", 3);
    fs::permissions(dir.path() / "readonly.txt",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (kLinux) {
        fs::create_symlink("sub", dir.path() / "link");
        fs::create_symlink("file.txt", dir.path() / "filelink");
    }

    auto entries = listAll(dir.path());
    ASSERT_EQ(entries.size(), kLinux ? 8u : 6u);
    EXPECT_TRUE(entries[L"."].isDirectory() && entries[L"."].isDotEntry());
    EXPECT_TRUE(entries[L".."].isDirectory() && entries[L".."].isDotEntry());
    EXPECT_EQ(entries[L"file.txt"].attributes & kUsedBits, 0u);
    EXPECT_EQ(entries[L"file.txt"].size(), 5u);
    EXPECT_EQ(entries[L"sub"].attributes & kUsedBits, listing::kAttrDirectory);
    EXPECT_EQ(entries[L"sub"].size(), 0u);
    EXPECT_EQ(entries[L".hidden"].attributes & kUsedBits, listing::kAttrHidden);
    EXPECT_EQ(entries[L"readonly.txt"].attributes & kUsedBits, listing::kAttrReadOnly);
    EXPECT_EQ(entries[L"readonly.txt"].size(), 3u);
    if (kLinux) {
        // Never followed; a link to a directory is listed as Windows lists a directory link.
        EXPECT_EQ(entries[L"link"].attributes,
                  listing::kAttrDirectory | listing::kAttrReparsePoint);
        EXPECT_EQ(entries[L"filelink"].attributes,
                  listing::kAttrSystem | listing::kAttrReparsePoint);
        EXPECT_TRUE(entries[L"file.txt"].shortName.empty());
    }
    fs::permissions(dir.path() / "readonly.txt", fs::perms::owner_write, fs::perm_options::add);
}

TEST(LookupEntry, FileDirectoryMissingAndTrailingSeparator) {
    testsupport::TempDir dir;
    writeBytes(dir.path() / "data.bin", 70000);
    const std::wstring sub = (dir.path() / "sub").wstring();
    fs::create_directory(sub);
    ListingEntry entry;
    ASSERT_EQ(listing::lookupEntry((dir.path() / "data.bin").wstring(), entry), 0u);
    EXPECT_EQ(entry.name, L"data.bin");
    EXPECT_EQ(entry.size(), 70000u);
    EXPECT_FALSE(entry.isDirectory());
    const wchar_t sep = kLinux ? L'/' : L'\\';
    for (const std::wstring& path : {sub, sub + sep + sep}) {
        ASSERT_EQ(listing::lookupEntry(path, entry), 0u) << path;
        EXPECT_EQ(entry.name, L"sub");
        EXPECT_EQ(entry.attributes & kUsedBits, listing::kAttrDirectory);
    }
    EXPECT_EQ(listing::lookupEntry(sub + sep + L"gone", entry), sysinfo::kErrorFileNotFound);

    // A listing opens with or without the trailing separator; a missing directory fails
    // (Windows may call it "path not found") and leaves nothing open.
    DirectoryListing listing;
    EXPECT_EQ(listing.open(sub + sep), 0u);
    EXPECT_TRUE(listing.isOpen());
    const uint32_t error = listing.open(sub + sep + L"gone");
    EXPECT_TRUE(error == sysinfo::kErrorFileNotFound || error == sysinfo::kErrorPathNotFound)
        << error;
    EXPECT_FALSE(listing.isOpen());
    EXPECT_NE(listing.next(entry), 0u);
}

TEST(LookupEntry, LinkToDirectoryIsTheLinkItself) {
    testsupport::TempDir dir;
    fs::create_directory(dir.path() / "target");
    if (!entrysetup::createDirectoryLink(dir.path() / "target", dir.path() / "link"))
        GTEST_SKIP() << "the platform made no link";
    ListingEntry entry;
    // Not even a trailing separator makes the look-up follow it.
    for (const wchar_t* suffix : {L"", kLinux ? L"/" : L"\\"}) {
        ASSERT_EQ(listing::lookupEntry((dir.path() / "link").wstring() + suffix, entry), 0u);
        EXPECT_TRUE(entry.isReparsePoint());
        EXPECT_TRUE(entry.isDirectory());
        EXPECT_EQ(entry.name, L"link");
    }
}

TEST(DirectoryListing, OpenChildListsTheSubdirectoryAndNeverALink) {
    testsupport::TempDir dir;
    fs::create_directories(dir.path() / "sub" / "inner");
    DirectoryListing parent;
    ASSERT_EQ(parent.open(dir.wide()), 0u);
    DirectoryListing child;
    ASSERT_EQ(child.openChild(parent, L"sub", (dir.path() / "sub").wstring()), 0u);
    std::vector<std::wstring> names;
    ListingEntry entry;
    while (child.next(entry) == 0)
        names.push_back(entry.name);
    EXPECT_NE(std::find(names.begin(), names.end(), L"inner"), names.end());
    if (kLinux) {
        // The entry was listed as a directory and has become a link since: it is not followed.
        fs::rename(dir.path() / "sub", dir.path() / "moved");
        fs::create_directory_symlink(dir.path() / "moved", dir.path() / "sub");
        EXPECT_NE(child.openChild(parent, L"sub", (dir.path() / "sub").wstring()), 0u);
        EXPECT_FALSE(child.isOpen());
    }
}

#if !defined(_WIN32)

TEST(DirectoryListing, UndecodableNameRoundTrips) {
    testsupport::TempDir dir;
    const std::string bytes("bad\xFF\xC3(\xED\xA0\x80.txt");
    std::ofstream(dir.path() / fs::path(bytes)).put('x');
    std::wstring found;
    for (const auto& [name, entry] : listAll(dir.path())) {
        if (!entry.isDotEntry())
            found = name;
    }
    EXPECT_EQ(utf8::fromWide(found), bytes);
    ListingEntry entry;
    EXPECT_EQ(listing::lookupEntry(dir.wide() + L"/" + found, entry), 0u);
    EXPECT_EQ(entry.name, found);
}

TEST(DirectoryListing, MountOfNonFixedFileSystemIsReparsePoint) {
    DriveHelper drives;
    const auto proc = drives.driveOfPath(L"/proc");
    if (!proc || proc->root != L"/proc" || proc->typeBit == DRIVE_TYPE_FIXED)
        GTEST_SKIP() << "/proc is no mount of a virtual file system here";
    ListingEntry entry;
    ASSERT_EQ(listing::lookupEntry(L"/proc", entry), 0u);
    constexpr uint32_t kMountBits = listing::kAttrDirectory | listing::kAttrReparsePoint;
    EXPECT_EQ(entry.attributes & kMountBits, kMountBits);
    EXPECT_EQ(listAll("/")[L"proc"].attributes & kMountBits, kMountBits);
}

#endif
