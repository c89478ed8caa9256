// The platform's own provider (inotify on Linux, rdcw on Windows), driven through the loader.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "providerharness.h"
#include "system/platform.h"
#include "testsupport.h"

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
constexpr char kProvider[] = "rdcw";
// The platform watches the subtrees and decides how moves show: between two directories of the
// tree as renames or as removed and added, into or out of the tree as added or removed.
constexpr bool kProviderWatchesSubtrees = false;
#else
constexpr char kProvider[] = "inotify";
constexpr bool kProviderWatchesSubtrees = true;
#endif

// Wine's ReadDirectoryChangesW does not watch a directory moved into the tree, keeps reporting
// one moved out under its old path, and tells nothing when a watched directory is removed (it
// keeps it in being while a handle on it is open).
bool underWine() {
    return testsupport::runningUnderWine();
}

void write(const fs::path& path, const char* text = "x", bool append = false) {
    std::ofstream out(path, append ? std::ios::app : std::ios::trunc);
    out << text;
}

class RealProvider : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(harness_.addRoot(root_.wide() + platform::kPathSeparator), 0);
        harness_.start();
    }

    std::wstring at(const fs::path& relative) const {
        return (root_.path() / relative).make_preferred().wstring();
    }
    // Waits for the entry to be reported as come in from (or gone to) another directory: the
    // inotify provider reports every move as OLD_NAME and NEW_NAME.
    bool arrives(const std::wstring& path) {
        return harness_.waitFor([&] {
            return harness_.find(FS_ACTION_NEW_NAME, path) != std::string::npos ||
                   (!kProviderWatchesSubtrees &&
                    harness_.find(FS_ACTION_ADDED, path) != std::string::npos);
        });
    }
    bool leaves(const std::wstring& path) {
        return harness_.waitFor([&] {
            return harness_.find(FS_ACTION_OLD_NAME, path) != std::string::npos ||
                   (!kProviderWatchesSubtrees &&
                    harness_.find(FS_ACTION_REMOVED, path) != std::string::npos);
        });
    }

    bool waitForRescanPair() {
        return harness_.waitFor([&] {
            const size_t removed = harness_.find(FS_ACTION_REMOVED, root_.wide());
            return removed != std::string::npos &&
                   harness_.find(FS_ACTION_ADDED, root_.wide(), removed + 1) == removed + 1;
        });
    }

    testsupport::TempDir root_;
    testsupport::TempDir outside_;
    ProviderHarness harness_{kProvider};
};

}  // namespace

TEST(RealProviderRoots, OnlyDirectoriesAreAcceptedAndOnlyBeforeTheStart) {
    testsupport::TempDir dir, other;
    write(dir.path() / "file");
    ProviderHarness harness(kProvider);
    EXPECT_EQ(harness.addRoot((dir.path() / "file").wstring()), -1);
    EXPECT_EQ(harness.addRoot((dir.path() / "missing").wstring()), -1);
    EXPECT_EQ(harness.addRoot(dir.wide(), false), 0);
    harness.start();
    EXPECT_EQ(harness.addRoot(other.wide()), -1);
    MonitoredPathList paths;
    harness.monitor().getMonitoredPaths(&paths);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(*paths[0].path, dir.wide());
    EXPECT_EQ(paths[0].recursive, 0);
    EXPECT_STREQ(harness.provider().providerName(), kProvider);
}

TEST(RealProviderRoots, ARootRemovedOrMovedAwayIsReportedRemoved) {
    testsupport::TempDir removed, moved, away, alive;
    const bool removing = !underWine();
    ProviderHarness harness(kProvider);
    if (removing) {
        ASSERT_EQ(harness.addRoot(removed.wide()), 0);
    }
    ASSERT_EQ(harness.addRoot(moved.wide() + platform::kPathSeparator), 0);
    ASSERT_EQ(harness.addRoot(alive.wide()), 0);
    fs::create_directories(removed.path() / "sub");
    harness.start();
    if (removing)
        fs::remove_all(removed.path());
    fs::rename(moved.path(), away.path() / "moved");
    if (removing) {
        EXPECT_TRUE(harness.waitForEvent(FS_ACTION_REMOVED, removed.wide())) << harness.describe();
    }
    EXPECT_TRUE(harness.waitForEvent(FS_ACTION_REMOVED, moved.wide())) << harness.describe();

    // Their watches went with them: only the marker written after these shows.
    const size_t from = harness.seen.size();
    write(away.path() / "moved" / "later");
#if !defined(_WIN32)
    fs::create_directory(removed.path());
    write(removed.path() / "later");
#endif
    const std::wstring marker = (alive.path() / "marker").wstring();
    write(marker);
    ASSERT_TRUE(harness.waitForEvent(FS_ACTION_ADDED, marker, from)) << harness.describe();
    for (size_t i = from; i < harness.seen.size(); ++i)
        EXPECT_EQ(harness.seen[i].path, marker) << harness.describe();
}

TEST_F(RealProvider, FileCreatedWrittenRenamedMovedAndDeleted) {
    write(root_.path() / "f", "one");
    ASSERT_TRUE(harness_.waitForEvent(FS_ACTION_ADDED, at("f"))) << harness_.describe();
    const size_t added = harness_.find(FS_ACTION_ADDED, at("f"));
    write(root_.path() / "f", "two", true);
    ASSERT_TRUE(harness_.waitForEvent(FS_ACTION_MODIFIED, at("f"), added + 1))
        << harness_.describe();

    fs::rename(root_.path() / "f", root_.path() / "g");
    ASSERT_TRUE(harness_.waitForEvent(FS_ACTION_NEW_NAME, at("g"))) << harness_.describe();
    const size_t oldName = harness_.find(FS_ACTION_OLD_NAME, at("f"));
    ASSERT_NE(oldName, std::string::npos) << harness_.describe();
    EXPECT_LT(oldName, harness_.find(FS_ACTION_NEW_NAME, at("g")));

    fs::create_directory(root_.path() / "sub");
    ASSERT_TRUE(harness_.waitForEvent(FS_ACTION_ADDED, at("sub"))) << harness_.describe();
    fs::rename(root_.path() / "g", root_.path() / "sub" / "g");
    ASSERT_TRUE(arrives(at("sub/g"))) << harness_.describe();
    EXPECT_TRUE(leaves(at("g"))) << harness_.describe();

    fs::remove(root_.path() / "sub" / "g");
    ASSERT_TRUE(harness_.waitForEvent(FS_ACTION_REMOVED, at("sub/g"))) << harness_.describe();
    EXPECT_EQ(harness_.provider().lossCount(), 0);
}

TEST_F(RealProvider, ADirectoryFilledAtOnceLeavesNothingUnseen) {
    // Whatever the directory holds when its event is taken (a consumer scans it then), together
    // with the later events, must cover everything created in it.
    std::vector<fs::path> files;
    for (int i = 0; i < 100; ++i) {
        files.push_back(root_.path() / "d" / ("f" + std::to_string(i)));
        files.push_back(root_.path() / "d" / "e" / ("g" + std::to_string(i)));
    }
    std::thread maker([&] {
        fs::create_directories(root_.path() / "d" / "e");
        for (const fs::path& f : files)
            write(f);
    });
    const bool sawDirectory = harness_.waitForEvent(FS_ACTION_ADDED, at("d"));
    std::set<std::wstring> scanned;
    for (const auto& entry : fs::recursive_directory_iterator(root_.path() / "d"))
        scanned.insert(entry.path().wstring());
    maker.join();
    ASSERT_TRUE(sawDirectory) << harness_.describe();

    const bool covered = harness_.waitFor([&] {
        for (const fs::path& f : files) {
            if (!scanned.count(f.wstring()) &&
                harness_.find(FS_ACTION_ADDED, f.wstring()) == std::string::npos)
                return false;
        }
        return true;
    });
    EXPECT_TRUE(covered) << harness_.describe();
}

TEST_F(RealProvider, RemovingATreeReportsItsTop) {
    fs::create_directories(root_.path() / "d" / "e" / "f");
    write(root_.path() / "d" / "e" / "f" / "file");
    ASSERT_TRUE(harness_.waitForEvent(FS_ACTION_ADDED, at("d"))) << harness_.describe();
    fs::remove_all(root_.path() / "d");
    EXPECT_TRUE(harness_.waitForEvent(FS_ACTION_REMOVED, at("d"))) << harness_.describe();
}

TEST_F(RealProvider, ADirectoryMovedInIsWatchedThroughout) {
    fs::create_directories(outside_.path() / "x" / "y");
    write(outside_.path() / "x" / "y" / "old");
    fs::rename(outside_.path() / "x", root_.path() / "x");
    ASSERT_TRUE(arrives(at("x"))) << harness_.describe();
    if (underWine())
        return;
    write(root_.path() / "x" / "y" / "new");
    EXPECT_TRUE(harness_.waitForEvent(FS_ACTION_ADDED, at("x/y/new"))) << harness_.describe();
}

TEST_F(RealProvider, ADirectoryMovedOutIsForgotten) {
    fs::create_directories(root_.path() / "y" / "z");
    ASSERT_TRUE(harness_.waitForEvent(FS_ACTION_ADDED, at("y"))) << harness_.describe();
    fs::rename(root_.path() / "y", outside_.path() / "y");
    ASSERT_TRUE(leaves(at("y"))) << harness_.describe();
    if (underWine())
        return;
    const size_t from = harness_.seen.size();
    write(outside_.path() / "y" / "z" / "b");
    write(root_.path() / "marker");
    ASSERT_TRUE(harness_.waitForEvent(FS_ACTION_ADDED, at("marker"), from)) << harness_.describe();
    for (size_t i = from; i < harness_.seen.size(); ++i)
        EXPECT_EQ(harness_.seen[i].path, at("marker")) << harness_.describe();
}

TEST_F(RealProvider, LostNotificationsHaveTheRootRescanned) {
    ASSERT_EQ(harness_.provider().simulateLoss(), 0);
    ASSERT_TRUE(waitForRescanPair()) << harness_.describe();
    EXPECT_EQ(harness_.provider().lossCount(), 1);
    write(root_.path() / "after");
    EXPECT_TRUE(harness_.waitForEvent(FS_ACTION_ADDED, at("after"))) << harness_.describe();
}

TEST_F(RealProvider, AFullQueueHasTheRootRescannedOnceThereIsRoom) {
    std::vector<FsEvent> filler(1000, FsEvent(L"filler", FS_ACTION_MODIFIED));
    size_t listed = 0;
    while (listed < 65535) {
        const size_t n = std::min(filler.size(), 65535 - listed);
        ASSERT_TRUE(harness_.queue().append(filler.data(), n));
        listed += n;
    }
    write(root_.path() / "lost");
    ASSERT_TRUE(testsupport::pollUntil([&] { return harness_.provider().lossCount() == 1; }));
    ASSERT_TRUE(waitForRescanPair()) << harness_.seen.size() << " events";
    EXPECT_EQ(harness_.find(FS_ACTION_ADDED, at("lost")), std::string::npos);
    // The pair right behind the filler; after it at most the file's later modifications, when
    // they came in a delivery of their own once there was room.
    ASSERT_GE(harness_.seen.size(), 65535u + 2);
    EXPECT_EQ(harness_.seen[65535].action, FS_ACTION_REMOVED);
    for (size_t i = 65535 + 2; i < harness_.seen.size(); ++i) {
        EXPECT_EQ(harness_.seen[i].action, FS_ACTION_MODIFIED);
        EXPECT_EQ(harness_.seen[i].path, at("lost"));
    }
}

TEST_F(RealProvider, DetachingEndsAppendsAndStoppingIsPrompt) {
    std::atomic<bool> busy{true};
    std::atomic<int> writes{0};
    std::thread writer([&] {
        for (int i = 0; busy; ++i) {
            const fs::path f = root_.path() / ("w" + std::to_string(i % 8));
            write(f);
            fs::remove(f);
            ++writes;
            // Paced, so that the writer does not starve everything else (under Wine the whole
            // file system goes through one server process).
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    ASSERT_TRUE(harness_.waitFor([&] { return harness_.seen.size() > 20; }));
    // Ends the provider's thread too: a bound far above the promised second, against hangs.
    const auto detaching = std::chrono::steady_clock::now();
    harness_.dropQueue();  // a later append would use the freed queue
    EXPECT_LT(std::chrono::steady_clock::now() - detaching, std::chrono::seconds(5));
    const int writesAtDetach = writes;
    ASSERT_TRUE(testsupport::pollUntil([&] { return writes > writesAtDetach + 200; }));
    busy = false;
    writer.join();
    harness_.monitor().stopMonitoring();
    harness_.monitor().cleanup();
}

#if !defined(_WIN32)

TEST_F(RealProvider, AKernelQueueOverflowHasTheRootRescanned) {
    // A burst larger than the kernel's queue while the provider reads nothing; the limit is read,
    // never changed.
    std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
    long limit = 0;
    if (!(limitFile >> limit) || limit > 200000)
        GTEST_SKIP() << "inotify queue limit " << limit;
    ASSERT_EQ(harness_.provider().holdEvents(true), 0);
    for (long i = 0; i < limit + 100; ++i)
        write(root_.path() / ("burst" + std::to_string(i)));
    ASSERT_EQ(harness_.provider().holdEvents(false), 0);
    EXPECT_TRUE(waitForRescanPair()) << harness_.seen.size() << " events";
    EXPECT_GE(harness_.provider().lossCount(), 1);
}

#endif
