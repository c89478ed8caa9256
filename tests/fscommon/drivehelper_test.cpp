#include "system/drivehelper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "system/platform.h"
#include "system/wow64helper.h"
#include "testsupport.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::wstring> roots(const DriveList& list) {
    std::vector<std::wstring> out;
    for (const auto& d : list)
        out.push_back(d.root);
    return out;
}

}  // namespace

TEST(DriveHelper, ListsDrivesOfTheMaskWithTheirNames) {
    testsupport::LogCapture log;
    DriveHelper helper;
    DriveList all;
    ASSERT_TRUE(helper.buildDriveList(all, DRIVE_TYPE_ALL));
    EXPECT_TRUE(log.has("DriveHelper::buildDriveList - drivesBufferLen = "));
    EXPECT_TRUE(log.has("DriveHelper::buildDriveList - check for drive '"));
    DriveList fixed;
    ASSERT_TRUE(helper.buildDriveList(fixed, DRIVE_TYPE_FIXED));
    ASSERT_FALSE(fixed.empty());
    for (const auto& d : fixed) {
        EXPECT_EQ(d.typeBit, DRIVE_TYPE_FIXED);
        EXPECT_FALSE(d.fileSystemName.empty());
        EXPECT_TRUE(d.root.size() == 1 || d.root.back() != platform::kPathSeparator)
            << "no trailing separator";
    }
    // The drive of the current directory is known, and is listed when its type is selected.
    const std::wstring cwd = fs::current_path().wstring();
    auto drive = helper.driveOfPath(cwd.c_str());
    ASSERT_TRUE(drive.has_value());
    if (drive->typeBit != 0) {
        const auto listed = roots(all);
        EXPECT_NE(std::find(listed.begin(), listed.end(), drive->root), listed.end());
    }
}

TEST(Wow64Helper, DecidedOnceAndNeverSwitchesOffOutsideWow64) {
    testsupport::LogCapture log;
    Wow64Helper first;
    Wow64Helper second;
    const std::string text = log.text();
    size_t queries = 0;
    for (size_t at = text.find("::isWow64Process - "); at != std::string::npos;
         at = text.find("::isWow64Process - ", at + 1)) {
        ++queries;
    }
    EXPECT_LE(queries, 2u) << "only the first helper of the process queries (one or two lines)";
#if defined(_WIN32)
    // A 64-bit build is not a WOW64 process.
    EXPECT_EQ(Wow64Helper::state(), Wow64Helper::kNotWow64);
#else
    EXPECT_EQ(Wow64Helper::state(), Wow64Helper::kNoQuery);
#endif
    const size_t before = log.text().size();
    EXPECT_FALSE(second.disableWow64FsRedirection());
    EXPECT_EQ(log.text().size(), before) << "no message outside WOW64";
}

#if !defined(_WIN32)

namespace {

// A mount table and a block-device directory like the kernel's, for one test.
class MountFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path sys = dir_.path() / "sys";
        // 8:17 is a removable partition whose flag sits on its disk, as in sysfs.
        fs::create_directories(sys / "devices" / "sdb" / "sdb1");
        testsupport::writeText(sys / "devices" / "sdb" / "removable", "1\n");
        fs::create_directory_symlink(sys / "devices" / "sdb" / "sdb1", sys / "8:17");
        fs::create_directories(sys / "devices" / "sda" / "sda1");
        testsupport::writeText(sys / "devices" / "sda" / "removable", "0\n");
        fs::create_directory_symlink(sys / "devices" / "sda" / "sda1", sys / "8:1");
        testsupport::writeText(dir_.path() / "mountinfo",
                               "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                               "22 21 0:20 / /tmp rw shared:2 - tmpfs tmpfs rw\n"
                               "23 21 0:30 / /net rw - nfs server:/export rw,vers=4\n"
                               "24 21 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
                               "25 21 0:4 / /proc rw,nosuid - proc proc rw\n"
                               "26 21 8:2 / /home rw - ext4 /dev/sda2 rw\n"
                               "27 21 8:17 / /media/usb rw - vfat /dev/sdb1 rw\n"
                               "28 21 8:3 / /mnt/with\\040space rw - xfs /dev/sda3 rw\n"
                               "29 21 0:40 / /dev/shm rw - tmpfs shm rw\n"
                               "30 29 8:4 / /dev/shm rw - ext4 /dev/sda4 rw\n"
                               "31 21 8:5 / relative rw - ext4 /dev/sda5 rw\n"
                               "32 21 8:6 / /zero\\000byte rw - ext4 /dev/sda6 rw\n"
                               "33 21 8:7 / // rw - ext4 /dev/sda7 rw\n"
                               "34 21 8:8 / /home/ rw - ext4 /dev/sda8 rw\n"
                               "35 21 8:9 / /mnt/../x rw - ext4 /dev/sda9 rw\n"
                               "malformed line\n");
        source_.mountInfo = (dir_.path() / "mountinfo").wstring();
        source_.sysDevBlock = sys.wstring();
    }

    testsupport::TempDir dir_;
    DriveSource source_;
};

}  // namespace

TEST_F(MountFixture, TypesAndOrder) {
    DriveHelper helper(source_);
    DriveList fixed;
    ASSERT_TRUE(helper.buildDriveList(fixed, DRIVE_TYPE_FIXED));
    EXPECT_EQ(roots(fixed),
              (std::vector<std::wstring>{L"/", L"/dev/shm", L"/home", L"/mnt/with space"}));
    EXPECT_EQ(fixed[0].fileSystemName, L"ext4");
    EXPECT_EQ(fixed[3].fileSystemName, L"xfs");

    DriveList all;
    ASSERT_TRUE(helper.buildDriveList(all, DRIVE_TYPE_ALL));
    ASSERT_EQ(roots(all),
              (std::vector<std::wstring>{L"/", L"/dev/shm", L"/home", L"/media/cd", L"/media/usb",
                                         L"/mnt/with space", L"/net", L"/tmp"}));
    std::vector<uint32_t> bits;
    for (const auto& d : all)
        bits.push_back(d.typeBit);
    EXPECT_EQ(bits, (std::vector<uint32_t>{DRIVE_TYPE_FIXED, DRIVE_TYPE_FIXED, DRIVE_TYPE_FIXED,
                                           DRIVE_TYPE_CDROM, DRIVE_TYPE_REMOVABLE, DRIVE_TYPE_FIXED,
                                           DRIVE_TYPE_REMOTE, DRIVE_TYPE_RAMDISK}));
    DriveList cdAndNet;
    ASSERT_TRUE(helper.buildDriveList(cdAndNet, DRIVE_TYPE_CDROM | DRIVE_TYPE_REMOTE));
    EXPECT_EQ(roots(cdAndNet), (std::vector<std::wstring>{L"/media/cd", L"/net"}));
}

TEST_F(MountFixture, DriveOfPath) {
    DriveHelper helper(source_);
    auto home = helper.driveOfPath(L"/home/user/file");
    ASSERT_TRUE(home.has_value());
    EXPECT_EQ(home->root, L"/home");
    EXPECT_EQ(home->typeBit, DRIVE_TYPE_FIXED);
    EXPECT_EQ(helper.driveOfPath(L"/homes/x")->root, L"/") << "component boundary";
    EXPECT_EQ(helper.driveOfPath(L"/tmp")->typeBit, DRIVE_TYPE_RAMDISK);
    EXPECT_EQ(helper.driveOfPath(L"/proc/1/status")->typeBit, 0u);
    EXPECT_EQ(helper.driveOfPath(L"/")->root, L"/");
    EXPECT_EQ(helper.driveOfPath(L"/media/usb/a")->typeBit, DRIVE_TYPE_REMOVABLE);
}

TEST_F(MountFixture, NonFixedMountPoints) {
    DriveHelper helper(source_);
    const auto points = helper.nonFixedMountPoints();
    EXPECT_EQ(points,
              (std::vector<std::wstring>{L"/media/cd", L"/media/usb", L"/net", L"/proc", L"/tmp"}));
    EXPECT_TRUE(DriveHelper::isNonFixedMountPoint(points, L"/tmp"));
    EXPECT_FALSE(DriveHelper::isNonFixedMountPoint(points, L"/tmp/x"));
    EXPECT_FALSE(DriveHelper::isNonFixedMountPoint(points, L"/home"));
}

TEST_F(MountFixture, MissingTableFails) {
    source_.mountInfo = (dir_.path() / "absent").wstring();
    DriveHelper helper(source_);
    DriveList list;
    EXPECT_FALSE(helper.buildDriveList(list, DRIVE_TYPE_ALL));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(helper.driveOfPath(L"/x").has_value());
}

#endif
