// The process frame of the real vigil binary: arguments, events, single instance, PID file.
#include <gtest/gtest.h>

#include <cwctype>
#include <filesystem>

#include "system/platform.h"
#include "vigilprocess.h"

#if !defined(_WIN32)
#include <sys/stat.h>

#include "text/utf8.h"
#endif

namespace fs = std::filesystem;
using testsupport::Child;

namespace {

std::wstring otherCase(std::wstring text) {
    for (wchar_t& c : text) {
        c = std::iswupper(c) ? static_cast<wchar_t>(std::towlower(c))
                             : static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

}  // namespace

TEST_F(VigilProcess, StartRefusesASecondStartAndStopEndsIt) {
    auto init = initEvent(wd());
    ASSERT_TRUE(init);
    auto first = Child::start(vigil(), args(wd(), L"start"));
    ASSERT_TRUE(first);
    ASSERT_EQ(init->waitTimeout(kStartTimeoutMs), 0);

    const fs::path pidFile = workDir_ / "mon_proc.id";
    EXPECT_EQ(testsupport::readBytes(pidFile).size(), 4u);
    EXPECT_EQ(pidInFile(pidFile), first->pid());

    // The same directory in other letter case names the same events.
    EXPECT_EQ(testsupport::run(vigil(), args(otherCase(wd()), L"start")), 1);
    EXPECT_TRUE(logHas("[vigil]::main - another instance of this program is already running!"));
    EXPECT_EQ(pidInFile(pidFile), first->pid());

    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"stop")), 0);
    EXPECT_EQ(first->wait(kStartTimeoutMs), 0);
    EXPECT_FALSE(fs::exists(pidFile));
    EXPECT_TRUE(logHas("[vigil]::main - stopping monitor..."));
}

TEST_F(VigilProcess, StopWithNothingRunningSucceedsAndSignals) {
    auto init = initEvent(wd());
    ASSERT_TRUE(init);
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"stop")), 0);
    EXPECT_EQ(init->waitTimeout(0), 0);
    EXPECT_TRUE(logHas("[vigil]::main - called to stop monitor..."));
    // Nothing was left running: a start now is the first instance.
    auto child = Child::start(vigil(), args(wd(), L"start"));
    ASSERT_TRUE(child);
    init->reset();
    ASSERT_EQ(init->waitTimeout(kStartTimeoutMs), 0);
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"stop")), 0);
    EXPECT_EQ(child->wait(kStartTimeoutMs), 0);
}

TEST_F(VigilProcess, TooFewArguments) {
    EXPECT_EQ(testsupport::run(vigil(), {L"a", L"b"}), 1);
    EXPECT_TRUE(logHas("[vigil]::main - bad number of parameters! [3<7]"));
    EXPECT_EQ(testsupport::run(vigil(), {L"a", L"b", wd(), L"p", L"l"}), 1);
    EXPECT_TRUE(logHas("[vigil]::main - bad number of parameters! [6<7]"));
}

TEST_F(VigilProcess, CommandIsCaseSensitive) {
    auto init = initEvent(wd());
    ASSERT_TRUE(init);
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"Start")), 1);
    EXPECT_TRUE(logHas("[vigil]::main - must specify 'start' or 'stop'!"));
    EXPECT_EQ(init->waitTimeout(0), 0) << "the controlling program is told";
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"STOP")), 1);
}

TEST_F(VigilProcess, ExtraArgumentsAreIgnored) {
    auto a = args(wd(), L"stop");
    a.push_back(L"extra");
    EXPECT_EQ(testsupport::run(vigil(), a), 0);
}

TEST_F(VigilProcess, WorkingDirectoryTooLongForThePidFileIsTooLongForTheCache) {
    // Too long for separator, "mon_proc.id" and terminator, short enough for the events.
    std::wstring longDir = wd() + platform::kPathSeparator;
    longDir += std::wstring(platform::kMaxPath - 5 - longDir.size(), L'd');
    EXPECT_FALSE(createMonitorPID(longDir.c_str(), kPidFileName));
    // The cache's files have longer names ("dirs_SHORTPATHNAME.idx"): the monitor cannot start
    // there, and tells the controlling program so.
    auto init = initEvent(longDir);
    ASSERT_TRUE(init);
    EXPECT_EQ(testsupport::run(vigil(), args(longDir, L"start")), 1);
    EXPECT_TRUE(logHas("[vigil]::main - start monitor failed!"));
    EXPECT_EQ(init->waitTimeout(0), 0);
}

TEST_F(VigilProcess, WorkingDirectoryTooLongForTheEventsIsRefused) {
    const std::wstring longDir = wd() + std::wstring(platform::kMaxPath, L'd');
    EXPECT_EQ(testsupport::run(vigil(), args(longDir, L"start")), 1);
    EXPECT_TRUE(logHas("[vigil]::main - working directory too long!"));
}

TEST_F(VigilProcess, ProviderNameTooLongIsRefused) {
    auto init = initEvent(wd());
    ASSERT_TRUE(init);
    auto a = args(wd(), L"start");
    a[3] = std::wstring(platform::kMaxPath, L'p');
    EXPECT_EQ(testsupport::run(vigil(), a), 1);
    EXPECT_TRUE(logHas("[vigil]::main - provider name too long!"));
    EXPECT_EQ(init->waitTimeout(0), 0) << "the controlling program is told";
}

TEST_F(VigilProcess, HardKilledStartDoesNotBlockTheNext) {
    auto init = initEvent(wd());
    ASSERT_TRUE(init);
    auto first = Child::start(vigil(), args(wd(), L"start"));
    ASSERT_TRUE(first);
    ASSERT_EQ(init->waitTimeout(kStartTimeoutMs), 0);
    first->kill();  // its events go with it

    init->reset();
    auto second = Child::start(vigil(), args(wd(), L"start"));
    ASSERT_TRUE(second);
    ASSERT_EQ(init->waitTimeout(kStartTimeoutMs), 0);
    EXPECT_EQ(pidInFile(workDir_ / "mon_proc.id"), second->pid());
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"stop")), 0);
    EXPECT_EQ(second->wait(kStartTimeoutMs), 0);
}

#if !defined(_WIN32)

TEST_F(VigilProcess, TerminationSignalEndsTheMonitor) {
    auto init = initEvent(wd());
    ASSERT_TRUE(init);
    auto child = Child::start(vigil(), args(wd(), L"start"));
    ASSERT_TRUE(child);
    ASSERT_EQ(init->waitTimeout(kStartTimeoutMs), 0);
    ASSERT_TRUE(child->terminateGently());
    EXPECT_EQ(child->wait(kStartTimeoutMs), 128 + 15);
    EXPECT_TRUE(child->endedBySignal());
    // Its stop event went with it.
    init->reset();
    auto next = Child::start(vigil(), args(wd(), L"start"));
    ASSERT_TRUE(next);
    ASSERT_EQ(init->waitTimeout(kStartTimeoutMs), 0);
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"stop")), 0);
    EXPECT_EQ(next->wait(kStartTimeoutMs), 0);
}

TEST_F(VigilProcess, WorkingDirectoryWithInvalidUtf8Bytes) {
    const std::string raw = dir_.path().string() + "/w\xFF\xFE";
    ASSERT_EQ(mkdir(raw.c_str(), 0700), 0);
    const std::wstring wide = utf8::toWide(raw);
    auto init = initEvent(wide);
    ASSERT_TRUE(init);
    auto child = Child::start(vigil(), args(wide, L"start"));
    ASSERT_TRUE(child);
    ASSERT_EQ(init->waitTimeout(kStartTimeoutMs), 0);
    struct stat st;
    EXPECT_EQ(stat((raw + "/mon_proc.id").c_str(), &st), 0) << "written at the exact bytes";
    EXPECT_EQ(st.st_size, 4);
    EXPECT_EQ(testsupport::run(vigil(), args(wide, L"stop")), 0);
    EXPECT_EQ(child->wait(kStartTimeoutMs), 0);
    EXPECT_NE(stat((raw + "/mon_proc.id").c_str(), &st), 0);
}

#endif
