// The monitor's start-up, shut-down and console control work, in this process, with the
// platform's own provider (inotify on Linux, rdcw on Windows).
#include <gtest/gtest.h>

#include <filesystem>

#include "cache/eventqueue.h"
#include "cache/fscache.h"
#include "cachetree.h"
#include "fs/fs_loader.h"
#include "fs/fsprovider.h"
#include "monitor.h"
#include "sync/namedevent.h"
#include "system/platform.h"
#include "testsupport.h"
#include "vigil.h"

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
constexpr char kProvider[] = "rdcw";
#else
constexpr char kProvider[] = "inotify";
#endif

void writeFile(const fs::path& path, size_t size = 1) {
    testsupport::writeText(path, std::string(size, 'm'));
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class MonitorProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = dir_.path() / "root";
        wd_ = dir_.path() / "work";
        fs::create_directories(root_ / "sub");
        fs::create_directories(wd_);
        writeFile(root_ / "sub" / "f");
        config_.settings = &settings_;
        init_ = NamedEvent::create(eventName(wd_.wstring().c_str(), kInitEventSuffix).c_str(), true,
                                   false);
        ASSERT_TRUE(init_);
    }

    MonitorArguments arguments(const char* provider, const std::wstring& pathList) const {
        return {L"dirs", L"files", wd_.wstring(), provider, pathList};
    }
    bool workEmpty() const { return fs::is_empty(wd_); }
    // The initialisation event of the working directory was set (and is reset for the next).
    bool initSignalled() {
        const bool set = init_->waitTimeout(0) == 0;
        init_->reset();
        return set;
    }

    testsupport::LogCapture log_;
    testsupport::TempDir dir_;
    fs::path root_, wd_;
    CacheSettings settings_{0, 31, 0, 0};
    ProcessConfig config_;
    // Held as a controlling program holds it: the object lives while someone has it open.
    std::unique_ptr<NamedEvent> init_;
};

// A monitor object that hands everything to the provider's and remembers the queue it got.
class QueueSpy : public ChangeMonitor {
  public:
    explicit QueueSpy(std::unique_ptr<ChangeMonitor> inner) : inner_(std::move(inner)) {}
    int startMonitoring() override { return inner_->startMonitoring(); }
    int stopMonitoring() override { return inner_->stopMonitoring(); }
    int setEventQueue(EventQueue* queue) override {
        queue_ = queue;
        return inner_->setEventQueue(queue);
    }
    int addPath(const MonitoredPath* path) override { return inner_->addPath(path); }
    int cleanup() override { return inner_->cleanup(); }
    int getMonitoredPaths(MonitoredPathList* paths) override {
        return inner_->getMonitoredPaths(paths);
    }
    EventQueue* queue() const { return queue_; }
    FsProvider& provider() { return dynamic_cast<FsProvider&>(*inner_); }

  private:
    std::unique_ptr<ChangeMonitor> inner_;
    EventQueue* queue_ = nullptr;
};

}  // namespace

TEST_F(MonitorProcess, AControlEventRemovesTheCacheAndThePidFileOnce) {
    ASSERT_TRUE(startMonitorProcess(arguments(kProvider, root_.wstring()), config_));
    EXPECT_TRUE(fs::exists(wd_ / "dirs.dat"));
    EXPECT_TRUE(writeMonitorPID(wd_.wstring().c_str()));
    EXPECT_TRUE(fs::exists(wd_ / "mon_proc.id"));

    EXPECT_FALSE(consoleCtrlHandler(3)) << "not a control type that ends the monitor";
    EXPECT_FALSE(workEmpty());
    EXPECT_FALSE(consoleCtrlHandler(0));
    EXPECT_TRUE(workEmpty());
    // The process ends now; whatever the main thread still does writes nothing and tears
    // nothing down a second time.
    EXPECT_FALSE(writeMonitorPID(wd_.wstring().c_str()));
    stopMonitorProcess();
    EXPECT_TRUE(workEmpty());
    EXPECT_EQ(occurrences(log_.text(), "[vigil]::main - cache deleted"), 1u) << log_.text();

    // A control event belongs to its run.
    ASSERT_TRUE(startMonitorProcess(arguments(kProvider, root_.wstring()), config_));
    EXPECT_TRUE(writeMonitorPID(wd_.wstring().c_str()));
    stopMonitorProcess();
    EXPECT_TRUE(workEmpty());
}

TEST_F(MonitorProcess, ARefusedPathIsLoggedAndTheStartGoesOn) {
    writeFile(dir_.path() / "loose");
    const std::wstring list = root_.wstring() + L";" + (dir_.path() / "loose").wstring();
    ASSERT_TRUE(startMonitorProcess(arguments(kProvider, list), config_));
    EXPECT_TRUE(log_.has("[vigil]::main - path '")) << log_.text();
    EXPECT_TRUE(log_.has("' not monitored!"));
    stopMonitorProcess();
    EXPECT_TRUE(workEmpty());
}

TEST_F(MonitorProcess, AFailedStartLeavesNothingBehindAndTellsTheController) {
    EXPECT_FALSE(startMonitorProcess(arguments("nosuchprovider", root_.wstring()), config_));
    EXPECT_TRUE(log_.has("[vigil]::main - unable to load nosuchprovider"));
    EXPECT_TRUE(initSignalled());

    const std::wstring unresolvable(platform::kMaxPath + 10, L'x');
    EXPECT_FALSE(startMonitorProcess(arguments(kProvider, unresolvable), config_));
    EXPECT_TRUE(log_.has("[vigil]::main - unable to parse the monitor path list!"));
    EXPECT_TRUE(initSignalled());

    // The replay provider without an event file does not start: the tables were made by then.
    testsupport::setEnv(L"VIGIL_REPLAY_FILE", nullptr);
    EXPECT_FALSE(startMonitorProcess(arguments("replay", root_.wstring()), config_));
    EXPECT_TRUE(log_.has("[vigil]::main - start monitor failed!"));
    EXPECT_TRUE(initSignalled());
    EXPECT_TRUE(workEmpty());
}

TEST(MonitorBurst, ABurstFarLargerThanTheQueueIsHealedByARescan) {
    testsupport::TempDir disk, work;
    const fs::path root = disk.path() / "root";
    fs::create_directories(root);
    ProcessConfig config;
    QueueSpy spy(loadFsProvider(kProvider, &config));
    const MonitoredPath path(root.wstring(), 1);
    ASSERT_EQ(spy.addPath(&path), 0);
    CacheSettings settings{0, 31, 0, 0};
    FS_Cache cache(L"dirs", L"files", work.wide().c_str(), true, false, false, &settings);
    ASSERT_TRUE(cache.startMonitor(&spy));

    // With the lock held here the collector applies nothing: fill its queue to the brim.
    ASSERT_EQ(cache.lock(), 0);
    const std::vector<FsEvent> filler(1000,
                                      FsEvent((root / "nothing").wstring(), FS_ACTION_MODIFIED));
    for (size_t n = filler.size(); n > 0; n /= 2) {
        while (spy.queue()->append(filler.data(), n)) {
        }
    }
    for (int d = 0; d < 10; ++d) {
        fs::create_directories(root / ("d" + std::to_string(d)) / "inner");
        for (int f = 0; f < 100; ++f)
            writeFile(root / ("d" + std::to_string(d)) / ("f" + std::to_string(f)));
    }
    fs::remove_all(root / "d3");
    fs::rename(root / "d4", root / "d44");
    const bool lost = testsupport::pollUntil([&] { return spy.provider().lossCount() > 0; });
    cache.unlock();
    ASSERT_TRUE(lost);

    auto view = [&] {
        EXPECT_EQ(cache.lock(), 0);
        cachetree::TableView v =
            cachetree::readTables(*cache.directoriesTable(), *cache.filesTable());
        cache.unlock();
        return v;
    };
    const auto matches = [&] {
        const cachetree::TableView v = view();
        return v.faults.empty() &&
               cachetree::below(v.tree, root.wstring()) ==
                   cachetree::below(cachetree::readDisk(root.wstring()), root.wstring());
    };
    EXPECT_TRUE(testsupport::pollUntil(matches, 120000))
        << testing::PrintToString(cachetree::describeDifferences(
               cachetree::readDisk(root.wstring()), cachetree::below(view().tree, root.wstring())));
    cache.stopMonitor();
}
