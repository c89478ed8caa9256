#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "fs/orbcfg.h"
#include "providerharness.h"
#include "replay/replayline.h"
#include "testsupport.h"
#include "text/utf8.h"

namespace {

ReplayLine parse(const char* text) {
    return parseReplayLine(text, std::strlen(text));
}

const char* const kActionNames[] = {"MODIFIED", "ADDED", "REMOVED", "OLD_NAME", "NEW_NAME"};

// Replays a file of the test's own.
class Replay : public ::testing::Test {
  protected:
    ~Replay() override {
        testsupport::setEnv(L"VIGIL_REPLAY_FILE", nullptr);
        testsupport::setEnv(L"VIGIL_CONFIG", nullptr);
        OrbCfg::reload();
    }
    void configure(const std::string& text) {
        testsupport::writeText(dir_.path() / "test.ini", text);
        testsupport::setEnv(L"VIGIL_CONFIG", (dir_.path() / "test.ini").wstring().c_str());
        OrbCfg::reload();
    }
    void replay(const std::string& text) {
        testsupport::writeText(dir_.path() / "events.txt", text);
        testsupport::setEnv(L"VIGIL_REPLAY_FILE", (dir_.path() / "events.txt").wstring().c_str());
    }

    testsupport::TempDir dir_;
};

}  // namespace

TEST(ReplayLine, ActionTabPath) {
    ReplayLine line = parse("ADDED\t/a/b c");
    EXPECT_EQ(line.kind, ReplayLineKind::Event);
    EXPECT_EQ(line.action, FS_ACTION_ADDED);
    EXPECT_EQ(line.path, "/a/b c");
    line = parse("FS_ACTION_OLD_NAME\tC:\\x\ty\r");
    EXPECT_EQ(line.action, FS_ACTION_OLD_NAME);
    EXPECT_EQ(line.path, "C:\\x\ty");
    for (const char* skip : {"", "\r", "# ADDED\t/x"})
        EXPECT_EQ(parse(skip).kind, ReplayLineKind::Skip) << skip;
    for (const char* bad : {"ADDED", "ADDED\t", "added\t/x", "NONE\t/x", " ADDED\t/x", "\t/x"})
        EXPECT_EQ(parse(bad).kind, ReplayLineKind::Bad) << bad;
    EXPECT_EQ(parseReplayLine("ADDED\t/\0x", 9).kind, ReplayLineKind::Bad);
}

TEST_F(Replay, AHundredThousandEventsArriveWholeAndInOrder) {
    // More than the queue holds: the provider waits for room rather than lose any.
    constexpr int kEvents = 100000;
    std::string text = "# replay\n\n";
    for (int i = 0; i < kEvents; ++i) {
        text += kActionNames[i % 5];
        text += "\t/r/\xC3\xA9" + std::to_string(i) + (i % 7 ? "\n" : "\r\n");
        if (i == 500)
            text += "BOGUS\t/x\n";
    }
    text += "ADDED\t/last-without-newline";
    replay(text);
    testsupport::LogCapture log;
    ProviderHarness harness("replay");
    harness.start();
    ASSERT_TRUE(harness.waitFor([&] { return harness.seen.size() >= kEvents + 1; }))
        << harness.seen.size();
    for (int i = 0; i < kEvents; ++i) {
        ASSERT_EQ(harness.seen[i].action, FS_ACTION_MODIFIED + static_cast<uint32_t>(i % 5)) << i;
        ASSERT_EQ(harness.seen[i].path, L"/r/\u00e9" + std::to_wstring(i)) << i;
    }
    EXPECT_EQ(harness.seen[kEvents].path, L"/last-without-newline");
    EXPECT_TRUE(testsupport::pollUntil([&] { return log.has("100001 events replayed"); }));
    EXPECT_TRUE(log.has("invalid line 504 in"));
    EXPECT_TRUE(log.has("1 lines skipped"));
}

TEST_F(Replay, APacedReplayAlsoArrivesWhole) {
    const std::filesystem::path bin =
        std::filesystem::path(testsupport::programPath(L"providers_tests")).parent_path();
    configure("[corvid]\nhome=" + utf8::fromWide(bin.wstring()) + "\n[replay]\nrate=1k\n");
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += "MODIFIED\t/p" + std::to_string(i) + "\n";
    replay(text);
    ProviderHarness harness("replay");
    harness.start();
    ASSERT_TRUE(harness.waitFor([&] { return harness.seen.size() >= 50; }));
    EXPECT_EQ(harness.seen[49].path, L"/p49");
}

TEST_F(Replay, WithoutAReadableFileTheStartFails) {
    testsupport::LogCapture log;
    testsupport::setEnv(L"VIGIL_REPLAY_FILE", (dir_.path() / "absent.txt").wstring().c_str());
    ProviderHarness harness("replay");
    EXPECT_EQ(harness.monitor().startMonitoring(), -1);
    EXPECT_TRUE(log.has("replay - unable to open"));
    EXPECT_EQ(harness.provider().simulateLoss(), -1);
}
