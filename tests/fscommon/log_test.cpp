#include "log/rklog.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport.h"
#include "text/logformat.h"

namespace {

constexpr char kLogModule[] = "tests/log";

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string s = formatLogMessage(fmt, args);
    va_end(args);
    return s;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Points the process's log at a file of a temporary directory for one test.
class LogToFile : public ::testing::Test {
  protected:
    void use(const wchar_t* level) {
        if (!capture_) {
            capture_ = std::make_unique<testsupport::LogCapture>(level);
        } else {
            capture_->setLevel(level);
        }
    }
    std::string content() const { return capture_->text(); }

    std::unique_ptr<testsupport::LogCapture> capture_;
};

}  // namespace

TEST(LogFormat, MatchesPrintfForNarrowConversions) {
    char expected[256];
    std::snprintf(expected, sizeof expected, "%5d|%-4s|%x|%lld|%%|%c|%08.3f|%u|%.2s|%p", 42, "ab",
                  255u, -7ll, 'z', 3.14159, 7u, "xyz", static_cast<void*>(nullptr));
    EXPECT_EQ(format("%5d|%-4s|%x|%lld|%%|%c|%08.3f|%u|%.2s|%p", 42, "ab", 255u, -7ll, 'z', 3.14159,
                     7u, "xyz", static_cast<void*>(nullptr)),
              expected);
    EXPECT_EQ(format("%*d|%-*d|", 4, 1, 3, 2), "   1|2  |");
}

TEST(LogFormat, WideTextIsUtf8OnEveryPlatform) {
    EXPECT_EQ(format("[%ls] [%S]", L"caf\u00e9", L"C:\\x"), "[caf\xC3\xA9] [C:\\x]");
    EXPECT_EQ(format("%-6ls|%3S|", L"ab", L"c"), "ab    |  c|");
    EXPECT_EQ(
        format("%ls %s", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr)),
        "(null) (null)");
    EXPECT_EQ(format("%lc", static_cast<wint_t>(0xE9)), "\xC3\xA9");
    EXPECT_EQ(format("50%"), "50%");
}

TEST_F(LogToFile, OneLinePerMessageWithItsOrigin) {
    use(L"info");
    RkLogWrapper* log = getRkLogFs();
    const int line = __LINE__ + 1;
    LOG_TRACE(log, "Thing::run - value %d of [%ls]\n", 7, L"caf\u00e9");
    const auto all = lines(content());
    ASSERT_EQ(all.size(), 1u);
    const std::string expectedTail = std::string("INFO  tests/log:") + std::to_string(line) +
                                     " TestBody: Thing::run - value 7 of [caf\xC3\xA9]";
    EXPECT_NE(all[0].find(expectedTail), std::string::npos) << all[0];
    EXPECT_EQ(all[0].substr(all[0].size() - expectedTail.size()), expectedTail);
}

TEST_F(LogToFile, LevelsFilterEntryExitAndOrdinaryMessages) {
    use(L"info");
    RkLogWrapper* log = getRkLogFs();
    LOG_ENTRY(log, "X::y - entering...\n");
    LOG_TRACE(log, "X::y - progress\n");
    LOG_EXIT(log, "X::y - exit. %d\n", 0);
    LOG_EXIT(log, "[vigil]::main - bad number of parameters! [%d<7]\n", 3);
    auto all = lines(content());
    ASSERT_EQ(all.size(), 2u);
    EXPECT_NE(all[0].find("X::y - progress"), std::string::npos);
    EXPECT_NE(all[1].find("ERROR"), std::string::npos);

    use(L"trace");
    LOG_ENTRY(log, "X::y - entering...\n");
    LOG_EXIT(log, "X::y - exit. %d\n", 0);
    all = lines(content());
    ASSERT_EQ(all.size(), 4u);
    EXPECT_NE(all[2].find("TRACE"), std::string::npos);

    use(L"error");
    LOG_TRACE(log, "X::y - progress\n");
    LOG_TRACE(log, "X::y - unable to open [%ls]\n", L"f");
    all = lines(content());
    ASSERT_EQ(all.size(), 5u);
    EXPECT_NE(all[4].find("unable to open [f]"), std::string::npos);
}

TEST_F(LogToFile, ConcurrentCallsNeverTearALine) {
    use(L"info");
    constexpr int kThreads = 8;
    constexpr int kMessages = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            RkLogWrapper* log = getRkLogFs();
            for (int m = 0; m < kMessages; ++m) {
                LOG_TRACE(log, "Worker::run - thread %d message %d [%ls]\n", t, m,
                          L"padding-padding-padding-padding-padding-padding");
            }
        });
    }
    for (auto& th : threads)
        th.join();
    const auto all = lines(content());
    ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kMessages));
    std::set<std::pair<int, int>> seen;
    for (const auto& l : all) {
        int t = -1, m = -1;
        const size_t at = l.find("Worker::run - thread ");
        ASSERT_NE(at, std::string::npos) << l;
        ASSERT_EQ(std::sscanf(l.c_str() + at, "Worker::run - thread %d message %d", &t, &m), 2);
        const std::string tail = "[padding-padding-padding-padding-padding-padding]";
        ASSERT_GT(l.size(), tail.size());
        EXPECT_EQ(l.substr(l.size() - tail.size()), tail);
        seen.insert({t, m});
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kMessages));
}

TEST_F(LogToFile, OffWritesNothing) {
    use(L"info");
    testsupport::setEnv(L"VIGIL_LOG", L"off");
    getRkLogFs()->reconfigure();
    RkLogWrapper* log = getRkLogFs();
    LOG_TRACE(log, "X::y - unable to do it\n");
    EXPECT_TRUE(content().empty());
}

TEST(LogListener, GetsOrdinaryMessagesWhateverTheDestinationUntilCleared) {
    // The test binaries' log is off.
    RkLogWrapper* log = getRkLogFs();
    std::vector<std::string> heard;
    log->setListener([&heard](const char* function, const std::string& text) {
        heard.push_back(std::string(function) + ": " + text);
    });
    LOG_ENTRY(log, "X::y - entering...\n");
    LOG_TRACE(log, "X::y - value %d of [%ls]\n", 7, L"caf\u00e9");
    LOG_EXIT(log, "X::y - exit.\n");
    log->setListener({});
    LOG_TRACE(log, "X::y - after\n");
    EXPECT_EQ(heard, std::vector<std::string>{"TestBody: X::y - value 7 of [caf\xC3\xA9]\n"});
}
