// startMonitor and stopMonitor with a monitor object of the test's own, whose events the test
// puts into the queue: the collector's thread, the lock, the initial build and events queued
// meanwhile, rescan requests, and stops at awkward moments.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "cache/eventqueue.h"
#include "cachefixture.h"
#include "fs/changemonitor.h"

namespace fs = std::filesystem;
using cachetest::CacheFixture;
using cachetest::writeFile;

namespace {

class FakeMonitor : public ChangeMonitor {
  public:
    int startMonitoring() override {
        ++starts;
        if (onStart)
            onStart();
        return startResult;
    }
    int stopMonitoring() override {
        ++stops;
        return 0;
    }
    int setEventQueue(EventQueue* q) override {
        queue = q;
        return 0;
    }
    int addPath(const MonitoredPath* path) override {
        roots.push_back(*path);
        return 0;
    }
    int cleanup() override {
        ++cleanups;
        return 0;
    }
    int getMonitoredPaths(MonitoredPathList* paths) override {
        paths->insert(paths->end(), roots.begin(), roots.end());
        return 0;
    }

    void push(uint32_t action, const fs::path& path) {
        ASSERT_NE(queue, nullptr);
        ASSERT_TRUE(queue->append(FsEvent(fs::path(path).make_preferred().wstring(), action)));
    }

    EventQueue* queue = nullptr;
    MonitoredPathList roots;
    int starts = 0, stops = 0, cleanups = 0, startResult = 0;
    std::function<void()> onStart;
};

class Monitoring : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = disk_.path() / "root";
        fs::create_directories(root_ / "sub" / "deep");
        writeFile(root_ / "sub" / "old", 5);
        writeFile(root_ / "sub" / "deep" / "older", 6);
        monitor_.addPath(&rootPath_);
    }
    void TearDown() override { fx_.cache->stopMonitor(); }

    FS_Cache& cache() { return *fx_.cache; }
    // The tables' view, read under the lock: the collector gives it up after a quiet second.
    cachetree::TableView lockedView() {
        EXPECT_EQ(cache().lock(), 0);
        cachetree::TableView view = fx_.view();
        cache().unlock();
        return view;
    }
    // Every event queued so far has been applied: a marker queued behind them is recorded.
    bool settled() {
        const fs::path marker = root_ / ("marker" + std::to_string(++markers_));
        writeFile(marker, 1);
        monitor_.push(FS_ACTION_ADDED, marker);
        return testsupport::pollUntil(
            [&] { return lockedView().tree.count(marker.wstring()) == 1; }, 60000);
    }
    void expectMatchesDisk() { cachetest::expectMatchesDisk(lockedView(), root_.wstring()); }

    testsupport::TempDir disk_;
    fs::path root_;
    MonitoredPath rootPath_{(disk_.path() / "root").wstring(), 1};
    CacheFixture fx_;
    FakeMonitor monitor_;
    int markers_ = 0;
};

}  // namespace

TEST_F(Monitoring, TheCollectorAppliesEventsAndGivesUpTheLockWhenQuiet) {
    ASSERT_TRUE(cache().startMonitor(&monitor_));
    EXPECT_EQ(monitor_.starts, 1);
    ASSERT_NE(monitor_.queue, nullptr);
    expectMatchesDisk();
    writeFile(root_ / "new", 2);
    monitor_.push(FS_ACTION_ADDED, root_ / "new");
    // lockedView waits for the lock: it comes only when the collector lets it go.
    EXPECT_TRUE(testsupport::pollUntil(
        [&] { return lockedView().tree.count((root_ / "new").wstring()) == 1; }));
    expectMatchesDisk();

    ASSERT_TRUE(cache().stopMonitor());
    EXPECT_EQ(monitor_.stops, 1);
    EXPECT_EQ(monitor_.cleanups, 1);
    EXPECT_EQ(monitor_.queue, nullptr) << "detached";
}

TEST_F(Monitoring, ASecondStartStopsTheFirstAndAnswersFalse) {
    ASSERT_TRUE(cache().startMonitor(&monitor_));
    FakeMonitor second;
    EXPECT_FALSE(cache().startMonitor(&second));
    EXPECT_EQ(second.starts, 0);
    EXPECT_EQ(monitor_.stops, 1);
    EXPECT_EQ(monitor_.queue, nullptr);
    EXPECT_FALSE(cache().startMonitor(nullptr));
}

TEST_F(Monitoring, EventsQueuedDuringTheBuildAreAppliedAfterIt) {
    // Changes made and reported while the monitor already runs and the build has not begun,
    // a rescan request among them; then changes made while the build runs.
    monitor_.onStart = [&] {
        writeFile(root_ / "early", 1);
        monitor_.push(FS_ACTION_ADDED, root_ / "early");
        fs::remove(root_ / "sub" / "old");
        monitor_.push(FS_ACTION_REMOVED, root_ / "sub" / "old");
        monitor_.push(FS_ACTION_REMOVED, root_);
        monitor_.push(FS_ACTION_ADDED, root_);
        fs::rename(root_ / "sub" / "deep", root_ / "deeper");
        monitor_.push(FS_ACTION_OLD_NAME, root_ / "sub" / "deep");
        monitor_.push(FS_ACTION_NEW_NAME, root_ / "deeper");
    };
    for (int i = 0; i < 200; ++i) {
        fs::create_directories(root_ / "many" / std::to_string(i));
        writeFile(root_ / "many" / std::to_string(i) / "f", static_cast<size_t>(i));
    }
    std::thread changer;
    auto onStart = monitor_.onStart;
    monitor_.onStart = [&] {
        onStart();
        changer = std::thread([&] {
            for (int i = 0; i < 200; i += 2) {
                const fs::path dir = root_ / "many" / std::to_string(i);
                writeFile(dir / "g", 3);
                monitor_.push(FS_ACTION_ADDED, dir / "g");
                fs::remove(dir / "f");
                monitor_.push(FS_ACTION_REMOVED, dir / "f");
                // Windows refuses to rename a directory while the build lists it.
                std::error_code error;
                EXPECT_TRUE(testsupport::pollUntil([&] {
                    fs::rename(dir, root_ / "many" / ("r" + std::to_string(i)), error);
                    return !error;
                })) << error.message();
                monitor_.push(FS_ACTION_OLD_NAME, dir);
                monitor_.push(FS_ACTION_NEW_NAME, root_ / "many" / ("r" + std::to_string(i)));
            }
        });
    };
    const bool started = cache().startMonitor(&monitor_);
    changer.join();
    ASSERT_TRUE(started);
    ASSERT_TRUE(settled());
    expectMatchesDisk();
}

TEST_F(Monitoring, ARootReportedRemovedAndAddedIsBuiltAgain) {
    ASSERT_TRUE(cache().startMonitor(&monitor_));
    // Changes nobody reported, as after lost notifications.
    writeFile(root_ / "unreported", 1);
    fs::remove_all(root_ / "sub" / "deep");
    monitor_.push(FS_ACTION_REMOVED, root_);
    monitor_.push(FS_ACTION_ADDED, root_);
    ASSERT_TRUE(settled());
    expectMatchesDisk();

    // The drive root itself ("/", "C:\") goes with everything, ancestors included; the monitored
    // root is then built again from nothing, as a drive root would be.
    monitor_.push(FS_ACTION_REMOVED, root_.root_path());
    writeFile(root_ / "unreported2", 1);
    monitor_.push(FS_ACTION_ADDED, root_);
    ASSERT_TRUE(settled());
    const cachetree::TableView view = lockedView();
    cachetest::expectMatchesDisk(view, root_.wstring());
    EXPECT_EQ(view.tree, cachetree::readDisk(root_.wstring())) << "nothing but the root's";
}

TEST_F(Monitoring, AStopDuringABurstEndsCleanly) {
    ASSERT_TRUE(cache().startMonitor(&monitor_));
    std::vector<FsEvent> burst;
    for (int i = 0; i < 30000; ++i) {
        burst.emplace_back((root_ / "sub" / "old").wstring(),
                           i % 2 ? FS_ACTION_MODIFIED : FS_ACTION_ADDED);
    }
    ASSERT_TRUE(monitor_.queue->append(burst.data(), burst.size()));
    ASSERT_TRUE(cache().stopMonitor());
    // Nothing touches the tables any more: they are torn down at once.
    ASSERT_EQ(cache().lock(), 0);
    const cachetree::TableView view = fx_.view();
    EXPECT_TRUE(view.faults.empty());
    EXPECT_TRUE(cache().closeCache());
    EXPECT_TRUE(cache().deleteCache());
    cache().unlock();
    EXPECT_FALSE(fs::exists(fx_.file(L"files.dat")));
}

TEST_F(Monitoring, AStopRequestedDuringTheStartEndsItAndTheTearDownWaitsForIt) {
    // As the console control handler does: stop request, stopMonitor, then the tables under the
    // lock, from another thread while the start is under way.
    std::thread handler;
    bool tornDown = false;
    monitor_.onStart = [&] {
        cache().requestStop();
        handler = std::thread([&] {
            cache().stopMonitor();
            EXPECT_EQ(cache().lock(), 0);
            cache().closeCache();
            tornDown = cache().deleteCache();
            cache().unlock();
        });
    };
    EXPECT_FALSE(cache().startMonitor(&monitor_));
    handler.join();
    EXPECT_TRUE(tornDown);
    EXPECT_EQ(monitor_.queue, nullptr);
    for (const auto& entry : fs::directory_iterator(fx_.dir.path()))
        ADD_FAILURE() << "left behind: " << entry.path();
}

TEST_F(Monitoring, AMonitorThatDoesNotStartFailsTheStart) {
    monitor_.startResult = -1;
    EXPECT_FALSE(cache().startMonitor(&monitor_));
    EXPECT_EQ(monitor_.queue, nullptr);
    EXPECT_EQ(monitor_.stops, 1);
    cache().closeCache();
    EXPECT_TRUE(cache().deleteCache());
    EXPECT_TRUE(fs::is_empty(fx_.dir.path()));
}
