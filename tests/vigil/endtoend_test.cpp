// The real vigil binary with the platform's own provider (inotify on Linux, rdcw on Windows):
// started with "start", a series of changes made on disk, then the tables it keeps are read
// from outside the process (cachetree, under the cache's lock) and compared with the disk, and
// "stop" ends it with nothing left behind.
//
// Wine's ReadDirectoryChangesW keeps reporting the changes below a directory that was moved or
// renamed under the directory's old path, and does not watch a directory moved into the tree at
// all: under Wine no directory is moved in, and none is moved or renamed within the tree before
// changes below it (the scripted series touches nothing below the directories it moves, the
// random series moves none). Every other change is made there too.
#include <gtest/gtest.h>

#include <chrono>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include "cache/fscache.h"
#include "cachetree.h"
#include "system/platform.h"
#include "system/sysinfo.h"
#include "table.h"
#include "text/strutil.h"
#include "vigilprocess.h"

namespace fs = std::filesystem;
using testsupport::Child;

namespace {

constexpr bool kNamesIgnoreCase = !platform::kNamesCaseSensitive;

void writeFile(const fs::path& path, size_t size, bool append = false) {
    std::ofstream(path, append ? std::ios::binary | std::ios::app : std::ios::binary)
        << std::string(size, 'e');
}

// Removes path with everything in it. Windows refuses to remove a directory while the monitor
// lists it: that is tried again.
void removeAll(const fs::path& path) {
    std::error_code error;
    EXPECT_TRUE(testsupport::pollUntil([&] { return fs::remove_all(path, error), !error; }))
        << error.message();
}

std::wstring otherCase(std::wstring name) {
    for (wchar_t& c : name) {
        c = std::iswupper(c) ? static_cast<wchar_t>(std::towlower(c))
                             : static_cast<wchar_t>(std::towupper(c));
    }
    return name;
}

// The entries at and below root, keyed by their path below it. On Windows the monitored path is
// upper-cased: the tables spell the root and its ancestors so, while the entries below keep the
// disk's spelling.
cachetree::Tree underRoot(const cachetree::Tree& tree, const std::wstring& root) {
    cachetree::Tree out;
    for (const auto& [path, entry] : tree) {
        if (path.size() >= root.size() &&
            compareText(path.substr(0, root.size()).c_str(), root.c_str(),
                        platform::kNamesCaseSensitive) == 0 &&
            (path.size() == root.size() || path[root.size()] == platform::kPathSeparator)) {
            out.emplace(path.substr(root.size()), entry);
        }
    }
    return out;
}

// Makes random changes below root, some of them through outside: files created, written,
// truncated, removed, renamed and moved; directories and trees created, copied, moved within,
// into and out of the tree and removed; entries that live for a moment; names that differ only
// in case. The disk is read again before every change, so that nothing has to be tracked.
class Changer {
  public:
    // directoryMoves: directories are moved within the tree and into it.
    Changer(fs::path root, fs::path outside, uint32_t seed, bool directoryMoves)
        : root_(std::move(root)),
          outside_(std::move(outside)),
          random_(seed),
          directoryMoves_(directoryMoves) {}

    void step() {
        readDisk();
        const bool crowded = files_.size() > 300;
        try {
            switch (pick(crowded ? 4 : 15)) {
                case 0:
                    removeFile();
                    break;
                case 1:
                    removeTree();
                    break;
                case 2:
                    renameFile();
                    break;
                case 3:
                    shortLived();
                    break;
                case 4:
                    createFile();
                    break;
                case 5:
                    appendFile();
                    break;
                case 6:
                    writeFile(any(files_), pick(100));
                    break;
                case 7:
                    moveFile();
                    break;
                case 8:
                    makeDirectory();
                    break;
                case 9:
                    makeTree(fresh(any(dirs_)), 2);
                    break;
                case 10:
                    copyTree();
                    break;
                case 11:
                    moveDirectory();
                    break;
                case 12:
                    moveOut();
                    break;
                case 13:
                    moveIn();
                    break;
                default:
                    changeCase();
                    break;
            }
        } catch (const fs::filesystem_error&) {
            // A change the disk refused (a name taken meanwhile): the disk stays the truth.
        }
    }

  private:
    size_t pick(size_t n) { return n == 0 ? 0 : random_() % n; }
    const fs::path& any(const std::vector<fs::path>& from) {
        static const fs::path none;
        return from.empty() ? none : from[pick(from.size())];
    }
    // A directory other than the root, or empty.
    fs::path anyBelow() {
        return dirs_.size() < 2 ? fs::path() : dirs_[1 + pick(dirs_.size() - 1)];
    }
    // A free name in dir; a small set of names, so that names come back.
    fs::path fresh(const fs::path& dir) {
        for (;;) {
            const fs::path path = dir / ("n" + std::to_string(pick(40)) + (pick(4) ? "" : ".txt"));
            if (!fs::exists(fs::symlink_status(path)))
                return path;
        }
    }
    void readDisk() {
        dirs_ = {root_};
        files_.clear();
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            if (entry.is_directory())
                dirs_.push_back(entry.path());
            else
                files_.push_back(entry.path());
        }
    }
    bool inside(const fs::path& path, const fs::path& dir) {
        const std::wstring p = path.wstring(), d = dir.wstring();
        return p.size() >= d.size() && p.compare(0, d.size(), d) == 0 &&
               (p.size() == d.size() || p[d.size()] == platform::kPathSeparator);
    }

    void createFile() { writeFile(fresh(any(dirs_)), pick(5000)); }
    void appendFile() {
        if (!files_.empty())
            writeFile(any(files_), 1 + pick(3000), true);
    }
    void removeFile() {
        if (!files_.empty())
            fs::remove(any(files_));
    }
    void renameFile() {
        if (!files_.empty()) {
            const fs::path from = any(files_);
            fs::rename(from, fresh(from.parent_path()));
        }
    }
    void moveFile() {
        if (!files_.empty())
            fs::rename(any(files_), fresh(any(dirs_)));
    }
    void makeDirectory() { fs::create_directory(fresh(any(dirs_))); }
    void makeTree(const fs::path& top, int depth) {
        fs::create_directory(top);
        for (size_t i = pick(4); i > 0; --i)
            writeFile(top / ("t" + std::to_string(i)), pick(200));
        if (depth > 0) {
            for (size_t i = 1 + pick(2); i > 0; --i)
                makeTree(top / ("s" + std::to_string(i)), depth - 1);
        }
    }
    void copyTree() {
        const fs::path from = anyBelow();
        const fs::path to = fresh(any(dirs_));
        if (!from.empty() && !inside(to, from))
            fs::copy(from, to, fs::copy_options::recursive);
    }
    void moveDirectory() {
        if (!directoryMoves_)
            return copyTree();
        const fs::path from = anyBelow();
        const fs::path to = fresh(any(dirs_));
        if (!from.empty() && !inside(to, from))
            fs::rename(from, to);
    }
    void moveOut() {
        const fs::path from = anyBelow();
        if (!from.empty())
            fs::rename(from, outside_ / ("out" + std::to_string(++moves_)));
    }
    void moveIn() {
        if (!directoryMoves_)
            return makeDirectory();
        const fs::path staged = outside_ / ("in" + std::to_string(++moves_));
        makeTree(staged, 2);
        fs::rename(staged, fresh(any(dirs_)));
    }
    void removeTree() {
        const fs::path dir = anyBelow();
        if (!dir.empty())
            fs::remove_all(dir);
    }
    void shortLived() {
        const fs::path path = fresh(any(dirs_));
        if (pick(2)) {
            writeFile(path, 10);
            fs::remove(path);
        } else {
            fs::create_directory(path);
            writeFile(path / "inner", 10);
            fs::remove_all(path);
        }
    }
    // Windows: an entry renamed to another spelling of its name. Linux: a second file whose
    // name differs from an existing one only in case.
    void changeCase() {
        const bool file = pick(2) || dirs_.size() < 2 || !directoryMoves_;
        const fs::path from = file ? any(files_) : anyBelow();
        if (from.empty())
            return;
        const fs::path to = from.parent_path() / otherCase(from.filename().wstring());
        if (kNamesIgnoreCase)
            fs::rename(from, to);
        else if (file && !fs::exists(to))
            writeFile(to, 7);
    }

    fs::path root_, outside_;
    std::mt19937 random_;
    bool directoryMoves_;
    int moves_ = 0;
    std::vector<fs::path> dirs_, files_;
};

class EndToEnd : public VigilProcess {
  protected:
    void SetUp() override {
        VigilProcess::SetUp();
        root_ = dir_.path() / "root";
        outside_ = dir_.path() / "outside";
        fs::create_directories(root_);
        fs::create_directories(outside_);
    }

    std::vector<std::wstring> monitorArgs(const wchar_t* command) const {
        return {L"dirs", L"files", wd(), kProvider, root_.wstring(), command};
    }
    std::unique_ptr<Child> start() {
        auto init = initEvent(wd());
        auto child = Child::start(vigil(), monitorArgs(L"start"));
        if (!init || !child || init->waitTimeout(kStartTimeoutMs) != 0) {
            ADD_FAILURE() << "the monitor did not start\n" << log();
            return nullptr;
        }
        return child;
    }
    void stop(Child& monitor) {
        EXPECT_EQ(testsupport::run(vigil(), monitorArgs(L"stop")), 0);
        EXPECT_EQ(monitor.wait(kStartTimeoutMs), 0);
        expectNothingLeft();
    }
    void expectNothingLeft() {
        for (const auto& entry : fs::directory_iterator(workDir_))
            ADD_FAILURE() << "left behind: " << entry.path();
    }

    // The tables of the running monitor, read while its collector leaves them alone.
    cachetree::TableView running() {
        FS_Cache probe(L"dirs", L"files", wd().c_str(), false, false, false, nullptr);
        EXPECT_EQ(probe.lock(), 0);
        cachetree::TableView view;
        Table directories(L"dirs", wd().c_str(), false), files(L"files", wd().c_str(), false);
        if (directories.open(true) && files.open(true))
            view = cachetree::readTables(directories, files);
        else
            view.faults.push_back(L"tables cannot be opened");
        probe.unlock();
        return view;
    }
    // Once every change made so far has been applied, the monitor's tables hold what the disk
    // holds below the root, and not a record more. A marker shows when that is: its creation
    // and removal come after every other change, and the provider keeps their order.
    void expectCacheEqualsDisk() {
        const std::wstring name = L"marker" + std::to_wstring(++markers_);
        const fs::path marker = root_ / name;
        const auto recorded = [&] {
            return underRoot(running().tree, root_.wstring())
                       .count(platform::kPathSeparator + name) == 1;
        };
        writeFile(marker, 1);
        ASSERT_TRUE(testsupport::pollUntil(recorded, 180000)) << "the marker never came";
        fs::remove(marker);
        ASSERT_TRUE(testsupport::pollUntil([&] { return !recorded(); }, 180000));

        const cachetree::TableView view = running();
        const cachetree::Tree disk =
            underRoot(cachetree::readDisk(root_.wstring()), root_.wstring());
        std::wstring differences =
            cachetree::describeDifferences(disk, underRoot(view.tree, root_.wstring()));
        for (const std::wstring& fault : view.faults)
            differences += L"fault: " + fault + L"\n";
        EXPECT_TRUE(differences.empty()) << testing::PrintToString(differences);
    }

    fs::path root_, outside_;
    int markers_ = 0;
};

}  // namespace

TEST_F(EndToEnd, ScriptedChangesLeaveTheCacheEqualToTheDisk) {
    fs::create_directories(root_ / "a" / "b");
    writeFile(root_ / "a" / "b" / "present", 10);
    auto monitor = start();
    ASSERT_TRUE(monitor);
    expectCacheEqualsDisk();

    // Files: created, appended, renamed within and across directories, removed.
    writeFile(root_ / "f", 5);
    writeFile(root_ / "f", 7, true);
    fs::rename(root_ / "f", root_ / "g");
    fs::rename(root_ / "g", root_ / "a" / "b" / "g");
    writeFile(root_ / "a" / "gone", 1);
    fs::remove(root_ / "a" / "gone");
    // Trees: created, copied, moved, moved out, removed.
    fs::create_directories(root_ / "t" / "u" / "v");
    writeFile(root_ / "t" / "u" / "v" / "w", 3);
    fs::copy(root_ / "t", root_ / "t2", fs::copy_options::recursive);
    fs::rename(root_ / "t2", root_ / "a" / "t3");
    if (!testsupport::runningUnderWine())
        writeFile(root_ / "a" / "t3" / "u" / "v" / "late", 2);
    fs::copy(root_ / "t", root_ / "t4", fs::copy_options::recursive);
    fs::rename(root_ / "t4", outside_ / "t4");
    removeAll(root_ / "t" / "u");
    // Short-lived entries.
    for (int i = 0; i < 20; ++i) {
        writeFile(root_ / "brief", 1);
        fs::remove(root_ / "brief");
        fs::create_directory(root_ / "briefdir");
        writeFile(root_ / "briefdir" / "x", 1);
        removeAll(root_ / "briefdir");
    }
    // Names that differ only in case.
    writeFile(root_ / "Case", 1);
    if (kNamesIgnoreCase) {
        fs::rename(root_ / "Case", root_ / "CASE");
        fs::rename(root_ / "a", root_ / "A");
    } else {
        writeFile(root_ / "CASE", 2);
    }
    // A tree moved in from outside.
    if (!testsupport::runningUnderWine()) {
        fs::create_directories(outside_ / "in" / "deep");
        writeFile(outside_ / "in" / "deep" / "x", 4);
        fs::rename(outside_ / "in", root_ / "in");
        writeFile(root_ / "in" / "deep" / "later", 4);
    }
    expectCacheEqualsDisk();
    stop(*monitor);
    EXPECT_FALSE(fs::exists(workDir_ / "mon_proc.id"));
}

TEST_F(EndToEnd, RandomChangesLeaveTheCacheEqualToTheDisk) {
    const bool wine = testsupport::runningUnderWine();
    // A longer run: VIGIL_E2E_OPERATIONS and VIGIL_E2E_SEED (see bench/monitor).
    const auto number = [](const wchar_t* name, unsigned fallback) {
        const auto text = sysinfo::getEnv(name);
        return text && !text->empty() ? static_cast<unsigned>(std::stoul(*text)) : fallback;
    };
    const unsigned operations = number(L"VIGIL_E2E_OPERATIONS", wine ? 400 : 3000);
    const unsigned seed = number(L"VIGIL_E2E_SEED", 20240611);
    Changer changer(root_, outside_, seed, !wine);
    for (int i = 0; i < 20; ++i)
        changer.step();
    auto monitor = start();
    ASSERT_TRUE(monitor);
    for (unsigned i = 0; i < operations; ++i)
        changer.step();
    expectCacheEqualsDisk();
    stop(*monitor);
}

TEST_F(EndToEnd, StopDuringABurstEndsCleanly) {
    auto monitor = start();
    ASSERT_TRUE(monitor);
    fs::create_directories(root_ / "burst");
    for (int i = 0; i < 2000; ++i)
        writeFile(root_ / "burst" / ("f" + std::to_string(i)), 1);
    // Still applying (or still receiving) the burst: the stop ends it without a fault.
    stop(*monitor);
    EXPECT_FALSE(logHas("EventCollector::run() - problem accessing to mutex"));
}

#if !defined(_WIN32)

TEST_F(EndToEnd, TerminationWhileRunningRemovesTheCacheAndThePidFile) {
    auto monitor = start();
    ASSERT_TRUE(monitor);
    EXPECT_TRUE(fs::exists(workDir_ / "mon_proc.id"));
    ASSERT_TRUE(monitor->terminateGently());
    EXPECT_EQ(monitor->wait(kStartTimeoutMs), 128 + 15);
    expectNothingLeft();
}

TEST_F(EndToEnd, TerminationDuringTheBuildOfALargeTreeEndsItPromptly) {
    for (int d = 0; d < 3000; ++d) {
        const fs::path dir = root_ / ("d" + std::to_string(d % 300)) / ("e" + std::to_string(d));
        fs::create_directories(dir);
        for (int f = 0; f < 10; ++f)
            writeFile(dir / ("f" + std::to_string(f)), 0);
    }
    auto child = Child::start(vigil(), monitorArgs(L"start"));
    ASSERT_TRUE(child);
    // The tables exist once the build is about to begin: the signal comes as early in it as
    // this test can see. (On a fast machine the build may still be over first; a stop in the
    // middle of a build is also tried in the cache's own tests.)
    const auto tablesExist = [&] {
        for (const auto& entry : fs::directory_iterator(workDir_)) {
            if (entry.path().filename().wstring().rfind(L"files", 0) == 0)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(testsupport::pollUntil(tablesExist, kStartTimeoutMs)) << log();
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_TRUE(child->terminateGently());
    EXPECT_EQ(child->wait(kStartTimeoutMs), 128 + 15);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - signalled)
                        .count();
    RecordProperty("msToEnd", static_cast<int>(ms));
    std::cout << "ended " << ms << " ms after the signal, "
              << (logHas("FS_Cache::startMonitor - monitor started!") ? "after" : "during")
              << " the build\n";
    expectNothingLeft();
}

#endif
