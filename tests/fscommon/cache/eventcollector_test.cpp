// The event handlers applied one by one to a built cache, the tables checked against the disk
// (cachetree reads them without the cache's own look-ups).
#include <gtest/gtest.h>

#include <filesystem>

#include "../listing/entrysetup.h"
#include "cache/cacheschema.h"
#include "cache/eventcollector.h"
#include "cachefixture.h"
#include "recordset.h"
#include "text/strutil.h"

namespace fs = std::filesystem;
using cachetest::CacheFixture;
using cachetest::expectMatchesDisk;
using cachetest::writeFile;

namespace {

struct FileRecord {
    std::wstring name;
    std::wstring shortName;
    uint64_t size = 0;
    uint32_t attr = 0;
    uint32_t pathId = 0;
    std::wstring md5;
    uint32_t crc32 = 0;
    uint32_t q32 = 0;
    bool operator==(const FileRecord&) const = default;
};

class Collector : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = disk_.path() / "root";
        fs::create_directories(root_ / "sub");
        writeFile(root_ / "sub" / "old", 5);
        fx_.created();
        ASSERT_EQ(fx_.cache->build(MonitoredPath(root_.wstring(), 1)), SCAN_OK);
    }

    std::wstring at(const fs::path& relative) const {
        return (root_ / relative).make_preferred().wstring();
    }
    void apply(uint32_t action, const fs::path& relative) {
        collector_.processDirectoryChange(FsEvent(at(relative), action));
    }
    void expectMatches() { expectMatchesDisk(fx_.view(), root_.wstring()); }
    size_t recordsNamed(const std::wstring& name) {
        return recordsWhere([&](const FileRecord& r) { return r.name == name; });
    }
    template <typename Predicate>
    size_t recordsWhere(Predicate predicate) {
        size_t n = 0;
        for (const FileRecord& r : files())
            n += predicate(r) ? 1 : 0;
        return n;
    }
    std::vector<FileRecord> files() {
        std::vector<FileRecord> out;
        Table& table = *fx_.cache->filesTable();
        RecordSet records = table.openRecordSet();
        for (bool more = records.moveFirst(); more; more = records.moveNext()) {
            out.push_back({records.getString(L"FILENAME"), records.getString(L"SHORTFILENAME"),
                           records.getUInt64(L"SIZE"), records.getUInt32(L"ATTR"),
                           records.getUInt32(L"PATHID"), records.getString(L"MD5"),
                           records.getUInt32(L"CRC32"), records.getUInt32(L"Q32")});
        }
        table.closeRecordSet(records);
        return out;
    }
    FileRecord file(const std::wstring& name) {
        for (const FileRecord& r : files()) {
            if (r.name == name)
                return r;
        }
        ADD_FAILURE() << "no record for " << testing::PrintToString(name);
        return {};
    }

    testsupport::LogCapture log_;
    testsupport::TempDir disk_;
    fs::path root_;
    CacheFixture fx_;
    EventCollector collector_{*fx_.cache};
};

}  // namespace

TEST_F(Collector, AnAddedFileGetsOneRecordWithoutDigestsAndARepeatRefreshesIt) {
    writeFile(root_ / "f", 3);
    apply(FS_ACTION_ADDED, "f");
    const FileRecord added = file(L"f");
    EXPECT_EQ(added.size, 3u);
    EXPECT_EQ(added.md5, L"0");
    EXPECT_EQ(added.crc32, 0u);
    EXPECT_EQ(added.q32, 0u);

    writeFile(root_ / "f", 7);
    apply(FS_ACTION_ADDED, "f");
    apply(FS_ACTION_NEW_NAME, "f");
    EXPECT_EQ(recordsNamed(L"f"), 1u);
    EXPECT_EQ(file(L"f").size, 7u);
    // A file the scan recorded is refreshed too.
    apply(FS_ACTION_ADDED, "sub/old");
    EXPECT_EQ(recordsNamed(L"old"), 1u);
    expectMatches();
}

TEST_F(Collector, ACopiedTreeIsRecordedOnceWhateverEventsFollowForItsEntries) {
    const fs::path tree = root_ / "copy";
    fs::create_directories(tree / "b" / "d");
    writeFile(tree / "a", 1);
    writeFile(tree / "b" / "c", 2);
    writeFile(tree / "b" / "d" / "e", 3);
    apply(FS_ACTION_ADDED, "copy");
    expectMatches();
    for (const char* below : {"copy/a", "copy/b", "copy/b/c", "copy/b/d", "copy/b/d/e"})
        apply(FS_ACTION_ADDED, below);
    expectMatches();

    // A directory that filled before anyone watched it: its event reads it again.
    writeFile(tree / "b" / "unseen", 4);
    fs::create_directory(tree / "b" / "d" / "later");
    apply(FS_ACTION_ADDED, "copy/b");
    expectMatches();
}

TEST_F(Collector, AShortLivedEntryLeavesNoTraceAndNoMessage) {
    apply(FS_ACTION_ADDED, "gone");
    EXPECT_EQ(collector_.pendingCount(), 1u);
    apply(FS_ACTION_REMOVED, "gone");
    EXPECT_EQ(collector_.pendingCount(), 0u);
    // A directory and its file, both gone before they were looked at.
    apply(FS_ACTION_ADDED, "d");
    apply(FS_ACTION_ADDED, "d/f");
    apply(FS_ACTION_MODIFIED, "d/f");
    apply(FS_ACTION_REMOVED, "d/f");
    apply(FS_ACTION_OLD_NAME, "d");
    EXPECT_EQ(collector_.pendingCount(), 0u);
    expectMatches();
    EXPECT_FALSE(log_.has("unable to find")) << log_.text();
    EXPECT_FALSE(log_.has("failed on")) << log_.text();
}

TEST_F(Collector, ARemovalAlwaysRemovesTheRecordAndAVanishedModificationIsDropped) {
    // Recorded by the scan, then gone; its added event comes late and is parked.
    fs::remove(root_ / "sub" / "old");
    apply(FS_ACTION_ADDED, "sub/old");
    apply(FS_ACTION_MODIFIED, "sub/old");
    EXPECT_EQ(collector_.pendingCount(), 1u) << "a modification is never parked";
    apply(FS_ACTION_REMOVED, "sub/old");
    EXPECT_EQ(recordsNamed(L"old"), 0u);
    EXPECT_EQ(collector_.pendingCount(), 0u);
    expectMatches();
}

TEST_F(Collector, ParkedEventsAreBoundedOldestFirst) {
    for (size_t i = 0; i <= EventCollector::kMaxPendingEvents; ++i)
        apply(FS_ACTION_ADDED, "p" + std::to_string(i));
    EXPECT_EQ(collector_.pendingCount(), EventCollector::kMaxPendingEvents);
    EXPECT_TRUE(log_.has("is dropped")) << log_.text();
    EXPECT_TRUE(log_.has(fs::path(at("p0")).string())) << "the oldest goes";
}

TEST_F(Collector, ARemovedDirectoryTakesItsSubtree) {
    fs::create_directories(root_ / "sub" / "x" / "y");
    writeFile(root_ / "sub" / "x" / "y" / "z", 1);
    apply(FS_ACTION_ADDED, "sub/x");
    expectMatches();
    fs::remove_all(root_ / "sub");
    apply(FS_ACTION_REMOVED, "sub");
    expectMatches();
    EXPECT_TRUE(files().empty());
}

TEST_F(Collector, AModificationChangesOnlySizeAndMode) {
    // Values of its own in every other field, to see that they stay.
    {
        Table& table = *fx_.cache->filesTable();
        RecordSet records = table.openRecordSet();
        ASSERT_TRUE(records.moveFirst());
        records.setString(L"MD5", L"abc");
        records.setUInt32(L"CRC32", 7);
        records.setUInt32(L"Q32", 9);
        records.setString(L"SHORTFILENAME", L"OLD~1");
        ASSERT_TRUE(records.updateRecord());
        table.closeRecordSet(records);
    }
    const FileRecord before = file(L"old");
    writeFile(root_ / "sub" / "old", 11);
    fs::permissions(root_ / "sub" / "old",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    apply(FS_ACTION_MODIFIED, "sub/old");
    FileRecord after = file(L"old");
    EXPECT_EQ(after.size, 11u);
    EXPECT_NE(after.attr, before.attr);
    EXPECT_EQ(after.attr & 0x8000, 0x8000u) << "read-only";
    after.size = before.size;
    after.attr = before.attr;
    EXPECT_EQ(after, before);
    fs::permissions(root_ / "sub" / "old", fs::perms::owner_write, fs::perm_options::add);

    apply(FS_ACTION_MODIFIED, "sub");
    EXPECT_TRUE(
        log_.has("EventCollector::processFileActionModified - no directory changes "
                 "available on"));
}

TEST_F(Collector, AnUnknownActionIsLogged) {
    collector_.processDirectoryChange(FsEvent(at("sub/old"), 0xA6));
    EXPECT_TRUE(log_.has("EventCollector::processDirectoryChange - invalid action."));
    expectMatches();
}

TEST_F(Collector, RenamedFilesAndDirectoriesKeepTheTablesEqualToTheDisk) {
    fs::create_directories(root_ / "d" / "e");
    writeFile(root_ / "d" / "e" / "f", 2);
    apply(FS_ACTION_ADDED, "d");
    apply(FS_ACTION_ADDED, "d/e/f");  // the collector now knows d/e

    fs::rename(root_ / "d", root_ / "moved");
    apply(FS_ACTION_OLD_NAME, "d");
    apply(FS_ACTION_NEW_NAME, "moved");
    expectMatches();
    // The old place is forgotten, the new one works.
    writeFile(root_ / "moved" / "e" / "g", 1);
    apply(FS_ACTION_ADDED, "moved/e/g");
    apply(FS_ACTION_ADDED, "d/e/h");
    expectMatches();

    fs::rename(root_ / "moved" / "e" / "f", root_ / "sub" / "f2");
    apply(FS_ACTION_OLD_NAME, "moved/e/f");
    apply(FS_ACTION_NEW_NAME, "sub/f2");
    fs::rename(root_ / "sub" / "f2", root_ / "sub" / "f3");
    apply(FS_ACTION_OLD_NAME, "sub/f2");
    apply(FS_ACTION_NEW_NAME, "sub/f3");
    expectMatches();
}

TEST_F(Collector, NamesThatDifferOnlyInCase) {
    writeFile(root_ / "Name", 1);
    apply(FS_ACTION_ADDED, "Name");
    if (cachetest::kLinux) {
        // Two files.
        writeFile(root_ / "NAME", 2);
        apply(FS_ACTION_ADDED, "NAME");
        expectMatches();
        fs::remove(root_ / "Name");
        apply(FS_ACTION_REMOVED, "Name");
    } else {
        // One file renamed: the record takes the new spelling.
        fs::rename(root_ / "Name", root_ / "NAME");
        apply(FS_ACTION_OLD_NAME, "Name");
        apply(FS_ACTION_NEW_NAME, "NAME");
        fs::rename(root_ / "sub", root_ / "SUB");
        apply(FS_ACTION_OLD_NAME, "sub");
        apply(FS_ACTION_NEW_NAME, "SUB");
        // Late events that name the entry in the old spelling still find it.
        apply(FS_ACTION_ADDED, "name");
    }
    expectMatches();
    // One record, in whichever spelling the disk now has (Wine may keep the old one).
    EXPECT_EQ(recordsWhere([](const FileRecord& r) {
                  return r.name.size() == 4 && compareNoCase(r.name.c_str(), L"name") == 0;
              }),
              1u);
}

TEST_F(Collector, ALinkToADirectoryIsNeitherRecordedNorFollowed) {
    fs::create_directories(disk_.path() / "elsewhere" / "inner");
    if (!entrysetup::createDirectoryLink(disk_.path() / "elsewhere", root_ / "link"))
        GTEST_SKIP() << "no directory links here";
    apply(FS_ACTION_ADDED, "link");
    expectMatches();
    EXPECT_EQ(fx_.view().tree.count(at("link")), 0u);
}
