// The fixture of the tests that run the real vigil binary the way a controlling program does:
// it holds the initialisation event of the working directory open and waits on it, then runs
// "stop". The log of every run goes to log.txt of the test's own directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sync/namedevent.h"
#include "testsupport.h"
#include "vigil.h"

inline constexpr unsigned kStartTimeoutMs = 60000;

#if defined(_WIN32)
inline constexpr wchar_t kProvider[] = L"rdcw";
#else
inline constexpr wchar_t kProvider[] = L"inotify";
#endif

class VigilProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        workDir_ = dir_.path() / "work";
        std::filesystem::create_directories(workDir_);
        testsupport::setEnv(L"VIGIL_LOG", (dir_.path() / "log.txt").wstring().c_str());
    }
    void TearDown() override { testsupport::setEnv(L"VIGIL_LOG", nullptr); }

    std::wstring wd() const { return workDir_.wstring(); }
    static std::wstring vigil() { return testsupport::programPath(L"vigil"); }
    // The platform's provider with a path list that names nothing: the monitor runs with
    // nothing to watch, its cache in workDir.
    static std::vector<std::wstring> args(const std::wstring& workDir, const wchar_t* command) {
        return {L"dirs", L"files", workDir, kProvider, L"pathlist", command};
    }
    static std::unique_ptr<NamedEvent> initEvent(const std::wstring& workDir) {
        return NamedEvent::create(eventName(workDir.c_str(), kInitEventSuffix).c_str(), true,
                                  false);
    }
    std::string log() const { return testsupport::readText(dir_.path() / "log.txt"); }
    bool logHas(const std::string& text) const { return log().find(text) != std::string::npos; }
    static uint32_t pidInFile(const std::filesystem::path& file) {
        const auto bytes = testsupport::readBytes(file);
        if (bytes.size() != 4)
            return 0;
        return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    }
    // A monitor started on workDir that has set its initialisation event; null (with a test
    // failure) when it did not get there.
    static std::unique_ptr<testsupport::Child> startMonitor(const std::wstring& workDir) {
        auto init = initEvent(workDir);
        auto child = testsupport::Child::start(vigil(), args(workDir, L"start"));
        if (!init || !child || init->waitTimeout(kStartTimeoutMs) != 0) {
            ADD_FAILURE() << "the monitor did not start";
            return nullptr;
        }
        return child;
    }
    // Runs "stop" on workDir and expects the monitor to end normally.
    static void stopMonitor(testsupport::Child& monitor, const std::wstring& workDir) {
        EXPECT_EQ(testsupport::run(vigil(), args(workDir, L"stop")), 0);
        EXPECT_EQ(monitor.wait(kStartTimeoutMs), 0);
    }

    testsupport::TempDir dir_;
    std::filesystem::path workDir_;
};
