#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "../listing/entrysetup.h"
#include "cache/fscache.h"
#include "cachefixture.h"
#include "longpath.h"
#include "smallstack.h"
#include "text/pathhelper.h"

namespace fs = std::filesystem;
using cachetest::CacheFixture;
using cachetest::kLinux;
using cachetest::writeFile;

namespace {

constexpr wchar_t kSep = platform::kPathSeparator;

// root/ a.txt(3) sub/ b.bin(70000) sub/deep/ c(0) empty/
void makeTree(const fs::path& root) {
    fs::create_directories(root / "sub" / "deep");
    fs::create_directories(root / "empty");
    writeFile(root / "a.txt", 3);
    writeFile(root / "sub" / "b.bin", 70000);
    writeFile(root / "sub" / "deep" / "c", 0);
}

// The name of every component of path, root text first.
std::vector<std::wstring> components(const std::wstring& path) {
    std::vector<std::wstring> parts{path.substr(0, path.find(kSep) + 1)};
    for (size_t at = path.find(kSep) + 1; at < path.size();) {
        const size_t end = std::min(path.find(kSep, at), path.size());
        parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

}  // namespace

TEST(CacheBuild, RecordsTheRootItsAncestorsAndTheTree) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    testsupport::TempDir disk;
    const fs::path root = disk.path() / "a";
    makeTree(root);
    EXPECT_EQ(cache.build(MonitoredPath(root.wstring(), 1)), SCAN_OK);
    const cachetree::TableView view = f.view();
    cachetest::expectMatchesDisk(view, root.wstring());

    // Ids are issued from 1, the drive root first, each ancestor the parent of the next.
    const std::vector<std::wstring> parts = components(root.wstring());
    std::wstring path;
    for (size_t k = 0; k < parts.size(); ++k) {
        path = k == 0 ? parts[0] : PathHelper::joinPath(path, parts[k]);
        EXPECT_EQ(view.ids.at(path), k + 1) << testing::PrintToString(path);
    }
    EXPECT_EQ(cache.lastScanCounts().directories, 3u);
    EXPECT_EQ(cache.lastScanCounts().files, 3u);

    // A file record holds its own name and its directory's id, and no digests.
    RecordSet files = cache.filesTable()->openRecordSet();
    int seen = 0;
    for (bool more = files.moveFirst(); more; more = files.moveNext(), ++seen) {
        const std::wstring name = files.getString(L"FILENAME");
        EXPECT_EQ(name.find(kSep), std::wstring::npos);
        EXPECT_STREQ(files.getString(L"MD5"), L"0");
        EXPECT_EQ(files.getUInt32(L"CRC32") | files.getUInt32(L"Q32"), 0u);
        if (name == L"a.txt") {
            EXPECT_EQ(files.getUInt32(L"PATHID"), view.ids.at(root.wstring()));
            EXPECT_EQ(files.getUInt32(L"ATTR"), 0x21B6u);
        }
    }
    EXPECT_EQ(seen, 3);
}

TEST(CacheBuild, DigestsWhenTheSettingsAskForThem) {
    CacheFixture f(false, 0x20);
    FS_Cache& cache = f.created();
    testsupport::TempDir disk;
    std::ofstream(disk.path() / "abc", std::ios::binary) << "abc";
    EXPECT_EQ(cache.build(MonitoredPath(disk.wide(), 1)), SCAN_OK);
    RecordSet files = cache.filesTable()->openRecordSet();
    ASSERT_TRUE(files.moveFirst());
    EXPECT_STREQ(files.getString(L"MD5"), L"900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(files.getUInt32(L"CRC32"), 0x352441C2u);
    EXPECT_EQ(files.getUInt32(L"Q32"), 0x352441C2u);
}

TEST(CacheBuild, TrailingSeparatorNonRecursiveRootAndSharedAncestors) {
    testsupport::TempDir disk;
    makeTree(disk.path() / "a");
    makeTree(disk.path() / "b");
    const std::wstring a = (disk.path() / "a").wstring();
    const std::wstring b = (disk.path() / "b").wstring();

    CacheFixture plain;
    EXPECT_EQ(plain.created().build(MonitoredPath(a, 1)), SCAN_OK);
    CacheFixture trailing;
    EXPECT_EQ(trailing.created().build(MonitoredPath(a + kSep, 1)), SCAN_OK);
    EXPECT_TRUE(plain.view().tree == trailing.view().tree);

    // The second root adds its own record and what lies below it, nothing above.
    const uint32_t before = plain.cache->directoriesCounter();
    EXPECT_EQ(plain.cache->build(MonitoredPath(b, 1)), SCAN_OK);
    EXPECT_EQ(plain.cache->directoriesCounter(), before + 4);
    cachetest::expectMatchesDisk(plain.view(), disk.wide());

    // Without recursion only the root's own files are recorded.
    CacheFixture flat;
    EXPECT_EQ(flat.created().build(MonitoredPath(a, 0)), SCAN_OK);
    cachetest::expectMatchesDisk(flat.view(), a, false);
    EXPECT_EQ(flat.view().tree.count(a + kSep + L"a.txt"), 1u);
}

TEST(CacheBuild, DriveRootAndExcludedPaths) {
    testsupport::LogCapture log;
    CacheFixture f;
    FS_Cache& cache = f.created();
    auto build = [&](const std::wstring& root, const MonitoredPathList& excluded) {
        return cache.build(MonitoredPath(root, 1), cache.directoriesRecords(),
                           cache.directoriesCounter(), cache.filesRecords(), cache.parentRecords(),
                           {}, excluded, false, kScanBudgetMs);
    };
    // An excluded drive root gets its one record and is not scanned.
    const std::wstring drive = fs::temp_directory_path().wstring().substr(0, kLinux ? 1 : 3);
    EXPECT_EQ(build(drive, {MonitoredPath(drive, 1)}), 0);
    EXPECT_TRUE(log.has("FS_Cache::build - path '"));
    cachetree::TableView view = f.view();
    ASSERT_EQ(view.tree.size(), 1u);
    EXPECT_EQ(view.ids.at(drive), 1u);

    // An excluded directory below the root is left out with everything in it.
    testsupport::TempDir disk;
    makeTree(disk.path());
    const std::wstring sub = (disk.path() / "sub").wstring();
    EXPECT_EQ(build(disk.wide(), {MonitoredPath(sub, 1)}), SCAN_OK);
    EXPECT_TRUE(log.has("excluded!"));
    view = f.view();
    EXPECT_TRUE(view.faults.empty());
    EXPECT_EQ(view.tree.count(sub), 0u);
    EXPECT_EQ(view.tree.count((disk.path() / "empty").wstring()), 1u);
}

TEST(CacheBuild, LinksAreNeitherRecordedNorFollowed) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    testsupport::TempDir outside;
    writeFile(outside.path() / "far.txt", 1);
    testsupport::TempDir disk;
    makeTree(disk.path());
    if (!entrysetup::createDirectoryLink(outside.path(), disk.path() / "out") ||
        !entrysetup::createDirectoryLink(disk.path() / "sub", disk.path() / "loop")) {
        GTEST_SKIP() << "the platform made no link";
    }
    EXPECT_EQ(cache.build(MonitoredPath(disk.wide(), 1)), SCAN_OK);
    const cachetree::TableView view = f.view();
    cachetest::expectMatchesDisk(view, disk.wide());
    for (const auto& [path, entry] : view.tree) {
        EXPECT_EQ(path.find(L"out"), std::wstring::npos) << testing::PrintToString(path);
        EXPECT_EQ(path.find(L"loop"), std::wstring::npos) << testing::PrintToString(path);
    }
    // A link given as the root is recorded and not scanned, nor is one handed to scan itself.
    const std::wstring link = (disk.path() / "out").wstring();
    EXPECT_EQ(cache.build(MonitoredPath(link, 1)), 0);
    const uint32_t id = f.view().ids.at(link);
    EXPECT_EQ(cache.scan(MonitoredPath(link + kSep, 1), cache.directoriesRecords(),
                         cache.directoriesCounter(), cache.filesRecords(), id, {}, {}, false,
                         kScanBudgetMs),
              SCAN_OK);
    EXPECT_EQ(f.view().tree.count((disk.path() / "out" / "far.txt").wstring()), 0u);
}

TEST(CacheScan, PathLimits) {
    testsupport::LogCapture log;
    testsupport::TempDir disk;
    // A spine of directories whose path is five short of the limit, then children whose paths
    // reach the limit minus 3, 2, 1 and 0, each holding a file.
    const size_t limit = platform::kMaxPath;
    std::wstring spine = disk.wide();
    while (spine.size() < limit - 5) {
        const size_t room = limit - 5 - spine.size() - 1;
        const std::wstring name(std::min<size_t>(room, 200), L's');
        ASSERT_TRUE(longpath::make(spine, name, true));
        spine += kSep + name;
    }
    ASSERT_EQ(spine.size(), limit - 5);
    const std::wstring names[] = {L"a", L"bb", L"ccc", L"dddd"};
    for (const std::wstring& name : names) {
        ASSERT_TRUE(longpath::make(spine, name, true));
        ASSERT_TRUE(longpath::make(spine + kSep + name, L"f", false));
    }
    struct Cleanup {
        const std::wstring& spine;
        const std::wstring (&names)[4];
        ~Cleanup() {
            for (const std::wstring& name : names) {
                longpath::remove(spine + kSep + name, L"f", false);
                longpath::remove(spine, name, true);
            }
        }
    } cleanup{spine, names};

    CacheFixture f;
    EXPECT_EQ(f.created().build(MonitoredPath(disk.wide(), 1)), SCAN_OK);
    const cachetree::TableView view = f.view();
    EXPECT_TRUE(view.faults.empty());
    const std::wstring a = spine + kSep + L"a";
    EXPECT_EQ(view.tree.count(a), 1u);
    EXPECT_EQ(view.tree.count(a + kSep + L"f"), 1u);
    for (const wchar_t* recordedOnly : {L"bb", L"ccc"}) {
        const std::wstring path = spine + kSep + recordedOnly;
        EXPECT_EQ(view.tree.count(path), 1u);
        EXPECT_EQ(view.tree.count(path + kSep + L"f"), 0u);
    }
    EXPECT_EQ(view.tree.count(spine + kSep + L"dddd"), 0u);
    EXPECT_TRUE(log.has("FS_Cache::scan - path too long!"));
    EXPECT_TRUE(log.has("FS_Cache::scan - path too long\n") ||
                log.has("FS_Cache::scan - path too long\r"));
}

TEST(CacheScan, TreeAsDeepAsThePathLimitOnASmallStack) {
    testsupport::TempDir disk;
    const size_t depth = std::min<size_t>(2000, (platform::kMaxPath - disk.wide().size() - 8) / 2);
    longpath::allowOpenFiles(depth + 256);
    ASSERT_TRUE(longpath::makeChain(disk.wide(), L"d", depth));
    std::wstring path = disk.wide();
    for (size_t k = 0; k < depth; ++k) {
        path += kSep;
        path += L'd';
        if (k % 100 == 0)
            writeFile(fs::path(path) / "f", k);
    }
    CacheFixture f;
    FS_Cache& cache = f.created();
    int result = -1;
    ASSERT_TRUE(testsupport::runWithStack(
        256 * 1024, [&] { result = cache.build(MonitoredPath(disk.wide(), 1)); }));
    EXPECT_EQ(result, SCAN_OK);
    EXPECT_EQ(cache.lastScanCounts().directories, depth);
    EXPECT_EQ(cache.lastScanCounts().files, (depth + 99) / 100);
    const cachetree::TableView built = f.view();
    EXPECT_TRUE(built.faults.empty());
    EXPECT_EQ(built.tree.count(path), 1u);
    EXPECT_EQ(cachetree::below(built.tree, disk.wide()).size(), 1 + depth + (depth + 99) / 100);

    // The whole chain goes again, just as deep.
    const uint32_t top = f.view().ids.at(disk.wide() + kSep + L"d");
    ASSERT_TRUE(testsupport::runWithStack(
        256 * 1024, [&] { cache.removeTree(cache.directoriesTable(), cache.filesTable(), top); }));
    const cachetree::TableView view = f.view();
    EXPECT_TRUE(view.faults.empty());
    EXPECT_TRUE(cachetree::below(view.tree, disk.wide() + kSep + L"d").empty());
    EXPECT_EQ(cache.filesTable()->openRecordSet().moveFirst(), false);
    EXPECT_EQ(view.tree.count(disk.wide()), 1u);
}

TEST(CacheScan, StopRequestAndTimeBudgetEndTheScanConsistently) {
    testsupport::TempDir disk;
    for (int i = 0; i < 300; ++i) {
        const fs::path dir = disk.path() / ("d" + std::to_string(i));
        fs::create_directories(dir / "x" / "y");
        writeFile(dir / "x" / "file", 1);
    }
    {
        CacheFixture f;
        FS_Cache& cache = f.created();
        cache.requestStop();
        EXPECT_EQ(cache.build(MonitoredPath(disk.wide(), 1)), SCAN_TIMEOUT);
        EXPECT_EQ(cachetree::below(f.view().tree, disk.wide()).size(), 1u);
    }
    // A budget used up part-way: what was written stays and hangs together.
    CacheFixture f;
    FS_Cache& cache = f.created();
    const int result = cache.build(MonitoredPath(disk.wide(), 1), cache.directoriesRecords(),
                                   cache.directoriesCounter(), cache.filesRecords(),
                                   cache.parentRecords(), {}, {}, false, 1);
    EXPECT_EQ(result, SCAN_TIMEOUT);
    const cachetree::TableView view = f.view();
    EXPECT_TRUE(view.faults.empty());
    const cachetree::Tree disked = cachetree::readDisk(disk.wide());
    for (const auto& [path, entry] : view.tree)
        EXPECT_EQ(disked.count(path), 1u) << testing::PrintToString(path);
    EXPECT_LT(cachetree::below(view.tree, disk.wide()).size(),
              cachetree::below(disked, disk.wide()).size());

    // A stop requested from another thread while a build runs ends it the same way.
    CacheFixture g;
    FS_Cache& other = g.created();
    std::atomic<bool> started{false};
    std::thread stopper([&] {
        while (!started.load())
            std::this_thread::yield();
        other.requestStop();
    });
    started = true;
    const int stopped = other.build(MonitoredPath(disk.wide(), 1));
    stopper.join();
    EXPECT_TRUE(stopped == SCAN_TIMEOUT || stopped == SCAN_OK);
    EXPECT_TRUE(g.view().faults.empty());
    EXPECT_EQ(other.build(MonitoredPath(disk.wide(), 1)), SCAN_TIMEOUT);
}

TEST(CacheScan, DirectoriesThatCannotBeListedOrChangeDuringTheScan) {
    testsupport::LogCapture log;
    testsupport::TempDir disk;
    makeTree(disk.path());
    CacheFixture f;
    FS_Cache& cache = f.created();
    // A directory that has gone: no listing, nothing recorded, no failure.
    EXPECT_EQ(cache.scan(MonitoredPath((disk.path() / "gone").wstring(), 1),
                         cache.directoriesRecords(), cache.directoriesCounter(),
                         cache.filesRecords(), 1, {}, {}, false, kScanBudgetMs),
              SCAN_OK);
    // Not found: 2 on Linux, 3 (path not found) from FindFirstFileW.
    EXPECT_TRUE(log.has(kLinux ? "invalid file handle. Error 2 opening"
                               : "invalid file handle. Error 3 opening"));

    // Directories renamed away, turned into links or files while builds run: every build ends and
    // leaves no record pointing at a missing id.
    for (int i = 0; i < 8; ++i) {
        fs::create_directories(disk.path() / ("m" + std::to_string(i)) / "in" / "deeper");
        writeFile(disk.path() / ("m" + std::to_string(i)) / "in" / "f", 1);
    }
    std::atomic<bool> done{false};
    std::thread mutator([&] {
        std::error_code ec;
        for (unsigned round = 0; !done.load(); ++round) {
            const fs::path victim = disk.path() / ("m" + std::to_string(round % 8));
            const fs::path aside = disk.path() / "aside";
            fs::rename(victim, aside, ec);
            if (round % 2 == 0)
                entrysetup::createDirectoryLink(aside, victim);
            else
                writeFile(victim, 2);
            fs::remove(victim, ec);
            fs::rename(aside, victim, ec);
        }
    });
    for (int round = 0; round < 6; ++round) {
        CacheFixture g;
        const int result = g.created().build(MonitoredPath(disk.wide(), 1));
        EXPECT_TRUE(result == SCAN_OK || result == SCAN_ERROR) << result;
        const cachetree::TableView view = g.view();
        EXPECT_TRUE(view.faults.empty()) << testing::PrintToString(view.faults);
    }
    done = true;
    mutator.join();
}
