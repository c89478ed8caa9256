// vigil-query beside a running monitor that keeps its cache current. Each test skips itself
// while `vigil ... start` keeps no cache in its working directory.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "querytest.h"
#include "system/platform.h"
#include "system/sysinfo.h"
#include "text/pathhelper.h"
#include "text/strutil.h"
#include "vigilprocess.h"

namespace fs = std::filesystem;

namespace {

constexpr const wchar_t* kProvider = platform::kPathSeparator == L'/' ? L"inotify" : L"rdcw";

class QueryBesideMonitor : public VigilProcess {
  protected:
    // Starts the monitor on tree; false when it did not start or keeps no cache.
    bool startOn(const fs::path& tree) {
        root_ = *PathHelper::realPath(tree.wstring().c_str());
        auto init = initEvent(wd());
        monitor_ = testsupport::Child::start(vigil(),
                                             {L"dirs", L"files", wd(), kProvider, root_, L"start"});
        if (!init || !monitor_ || init->waitTimeout(kStartTimeoutMs) != 0) {
            ADD_FAILURE() << "the monitor did not start";
            return false;
        }
        if (fs::exists(workDir_ / "dirs.dat"))
            return true;
        ADD_FAILURE() << "the monitor keeps no cache";
        return false;
    }
    void TearDown() override {
        if (monitor_) {
            stopMonitor(*monitor_, wd());
            EXPECT_FALSE(fs::exists(workDir_ / "dirs.dat"));
            EXPECT_FALSE(fs::exists(workDir_ / "files.dat"));
            EXPECT_FALSE(fs::exists(workDir_ / "mon_proc.id"));
        }
        VigilProcess::TearDown();
    }
    querytest::Output query(std::vector<std::wstring> args) const {
        args.insert(args.begin(), {wd(), L"dirs", L"files", L"--wait", L"20000"});
        return querytest::query(args);
    }

    std::wstring root_;
    std::unique_ptr<testsupport::Child> monitor_;
};

TEST_F(QueryBesideMonitor, ReadsOverAndOverWhileTheMonitorAppliesChanges) {
    const fs::path tree = dir_.path() / "tree";
    fs::create_directories(tree / "sub");
    for (int i = 0; i < 20; ++i)
        std::ofstream(tree / ("keep" + std::to_string(i) + ".txt")) << i;
    ASSERT_TRUE(startOn(tree));

    // A stream of changes: files made, grown, renamed and removed, a directory made and removed.
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::error_code ec;
        for (int i = 0; !done; ++i) {
            const fs::path file = tree / "sub" / ("churn" + std::to_string(i % 16) + ".tmp");
            std::ofstream(file, std::ios::app) << std::string(64, 'x');
            fs::rename(file, tree / "sub" / ("moved" + std::to_string(i % 16) + ".tmp"), ec);
            if (i % 3 == 0)
                fs::remove(tree / "sub" / ("moved" + std::to_string((i + 8) % 16) + ".tmp"), ec);
            if (i % 10 == 0)
                fs::create_directories(tree / "sub" / ("d" + std::to_string(i % 4)), ec);
            if (i % 10 == 5)
                fs::remove_all(tree / "sub" / ("d" + std::to_string(i % 4)), ec);
        }
    });
    // The writer ends however the test does.
    struct StopWriter {
        std::atomic<bool>& done;
        std::thread& writer;
        ~StopWriter() {
            done = true;
            writer.join();
        }
    } stopWriter{done, writer};
    // The changes never pause: the reader must still get its turn each time.
    const int rounds = testsupport::runningUnderWine() ? 20 : 40;
    const std::vector<std::vector<std::wstring>> commands = {
        {L"stats"}, {L"find", L"*.tmp"}, {L"ls", root_}, {L"--count", L"where", L"[SIZE] >= 0"}};
    for (int i = 0; i < rounds; ++i) {
        const querytest::Output out = query(commands[i % commands.size()]);
        ASSERT_TRUE(out.code == 0 || out.code == 1) << "round " << i << ": " << out.err;
        ASSERT_EQ(monitor_->wait(0), -1) << "the monitor ended in round " << i;
    }
    // The files that never changed are all there.
    EXPECT_EQ(query({L"--count", L"find", L"keep*.txt"}).out, "20\n");
}

TEST_F(QueryBesideMonitor, NamesAreFoundWhenMonitorAndReaderRunInOtherLocales) {
    const fs::path tree = dir_.path() / "tree";
    fs::create_directories(tree);
    const std::wstring name = L"\u00C9t\u00E9-\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC.txt";
    std::ofstream(tree / querytest::osPath(name)) << "x";
    const std::optional<std::wstring> saved = sysinfo::getEnv(L"LC_ALL");
    testsupport::setEnv(L"LC_ALL", L"C");
    const bool started = startOn(tree);
    testsupport::setEnv(L"LC_ALL", L"C.UTF-8");
    const querytest::Output exact = started ? query({L"find", name}) : querytest::Output{};
    const querytest::Output folded =
        started ? query({L"find", L"-i", L"\u00E9T\u00C9-\u03B5\u03BB\u03BB*.TXT"})
                : querytest::Output{};
    testsupport::setEnv(L"LC_ALL", saved ? saved->c_str() : nullptr);
    ASSERT_TRUE(started);
    // Windows: the monitored path is kept upper-cased, the names below it as the disk has them.
    const std::wstring root = platform::kNamesCaseSensitive ? root_ : toUpper(root_);
    const std::string line = utf8::fromWide(PathHelper::joinPath(root, name)) + "\n";
    EXPECT_EQ(exact.out, line) << exact.err;
    EXPECT_EQ(folded.out, line) << folded.err;
}

}  // namespace
