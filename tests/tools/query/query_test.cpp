// vigil-query over a cache that this process built from a known tree and keeps open, as a
// running monitor does.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "cache/fscache.h"
#include "cachetree.h"
#include "querytest.h"
#include "system/platform.h"
#include "system/sysinfo.h"
#include "text/pathhelper.h"
#include "text/utf8.h"

namespace fs = std::filesystem;
using querytest::query;
using querytest::split;

namespace {

constexpr bool kCaseSensitiveNames = platform::kNamesCaseSensitive;

void writeFile(const fs::path& path, size_t size) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'v');
}

// The tree of every test and the cache of it, kept open.
class QueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The monitor and vigil-query both run in the user's locale; on Windows the index keys
        // of non-ASCII names follow the runtime's case mapping, which depends on it.
        std::setlocale(LC_ALL, "");
        root_ = dir_.path() / "tree";
        fs::create_directories(root_ / "src" / "deep");
        fs::create_directories(root_ / "docs");
        fs::create_directories(dir_.path() / "cache");
        writeFile(root_ / "README", 7);
        writeFile(root_ / "src" / "main.cpp", 100);
        writeFile(root_ / "src" / "util.cpp", 10);
        writeFile(root_ / "src" / "util.h", 20);
        writeFile(root_ / "src" / "a1.c", 1);
        writeFile(root_ / "src" / "ab.c", 2);
        writeFile(root_ / "src" / "deep" / "x.cpp", 5);
        writeFile(root_ / "docs" / "big.log", 2000000);
        writeFile(root_ / "docs" / "notes.txt", 3);
        writeFile(root_ / "docs" / querytest::osPath(L"\u00C9t\u00E9.txt"), 4);
        base_ = *PathHelper::realPath(root_.wstring().c_str());
        cache_ = std::make_unique<FS_Cache>(L"dirs", L"files", cacheDir().c_str(), true, false,
                                            false, nullptr);
        ASSERT_EQ(cache_->create(3600000, FS_CACHE_CREATE), SUCCESS);
        ASSERT_EQ(cache_->build(MonitoredPath(base_, 1)), SCAN_OK);
    }

    std::wstring cacheDir() const { return (dir_.path() / "cache").wstring(); }
    // The UTF-8 full path of a path relative to the tree's root ("src/main.cpp").
    std::string path(const std::string& relative) const {
        std::string out = utf8::fromWide(base_);
        for (const std::string& part : split(relative, '/'))
            out += platform::kPathSeparatorNarrow + part;
        return out;
    }
    std::wstring widePath(const std::string& relative) const {
        return utf8::toWide(path(relative));
    }
    // vigil-query on the test's cache.
    querytest::Output run(std::vector<std::wstring> args) const {
        args.insert(args.begin(), {cacheDir(), L"dirs", L"files"});
        return query(args);
    }

    testsupport::TempDir dir_;
    fs::path root_;
    std::wstring base_;
    std::unique_ptr<FS_Cache> cache_;
};

TEST_F(QueryTest, StatsCountsTheTablesAndTellsWhetherTheMonitorRuns) {
    const cachetree::TableView view =
        cachetree::readTables(*cache_->directoriesTable(), *cache_->filesTable());
    size_t directories = 0;
    for (const auto& [p, entry] : view.tree)
        directories += entry.directory;

    querytest::Output stats = run({L"stats"});
    ASSERT_EQ(stats.code, 0) << stats.err;
    EXPECT_NE(stats.out.find("directories:  " + std::to_string(directories) + "\n"),
              std::string::npos)
        << stats.out;
    EXPECT_NE(stats.out.find("files:        10\n"), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find("total size:   2000152 bytes\n"), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find("monitor:      not running\n"), std::string::npos) << stats.out;

    // A process-ID file that names a running process: this one.
    const uint32_t pid = sysinfo::currentProcessId();
    const char bytes[4] = {static_cast<char>(pid), static_cast<char>(pid >> 8),
                           static_cast<char>(pid >> 16), static_cast<char>(pid >> 24)};
    std::ofstream(dir_.path() / "cache" / "mon_proc.id", std::ios::binary).write(bytes, 4);
    stats = run({L"stats", L"--json"});
    ASSERT_EQ(stats.code, 0) << stats.err;
    const nlohmann::json line = nlohmann::json::parse(stats.out);
    EXPECT_EQ(line["directories"], directories);
    EXPECT_EQ(line["files"], 10);
    EXPECT_EQ(line["size"], 2000152);
    EXPECT_GT(line["cacheBytes"].get<uint64_t>(), 0u);
    EXPECT_EQ(line["monitorRunning"], true);
    EXPECT_EQ(line["monitorPid"], pid);
}

TEST_F(QueryTest, LsListsOneDirectoryInEveryOutputForm) {
    querytest::Output ls = run({L"ls", widePath("src")});
    ASSERT_EQ(ls.code, 0) << ls.err;
    EXPECT_EQ(ls.out,
              "- 21b6            1 a1.c\n"
              "- 21b6            2 ab.c\n"
              "d ----            - deep\n"
              "- 21b6          100 main.cpp\n"
              "- 21b6           10 util.cpp\n"
              "- 21b6           20 util.h\n");

    ls = run({L"--json", L"ls", widePath("src")});
    ASSERT_EQ(ls.code, 0) << ls.err;
    std::map<std::string, nlohmann::json> byPath;
    for (const std::string& text : split(ls.out)) {
        const nlohmann::json line = nlohmann::json::parse(text);
        byPath[line["path"].get<std::string>()] = line;
    }
    ASSERT_EQ(byPath.size(), 6u) << ls.out;
    EXPECT_EQ(byPath[path("src/main.cpp")]["size"], 100);
    EXPECT_EQ(byPath[path("src/main.cpp")]["attr"], 0x21B6);
    EXPECT_EQ(byPath[path("src/main.cpp")]["kind"], "file");
    EXPECT_EQ(byPath[path("src/deep")]["kind"], "directory");
    EXPECT_TRUE(byPath[path("src/deep")]["size"].is_null());

    EXPECT_EQ(run({L"ls", widePath("src"), L"--count"}).out, "6\n");
    EXPECT_EQ(run({L"-0", L"ls", widePath("src/deep")}).out,
              std::string("- 21b6            5 x.cpp\0", 26));

    const querytest::Output missing = run({L"ls", widePath("nowhere")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("not in the cache"), std::string::npos) << missing.err;
}

TEST_F(QueryTest, FindMatchesWildcardsAndPatternSets) {
    // The sorted paths (or the count) that find prints.
    auto found = [&](std::vector<std::wstring> args) {
        args.insert(args.begin(), L"find");
        const bool nul = std::find(args.begin(), args.end(), L"-0") != args.end();
        const querytest::Output out = run(args);
        EXPECT_EQ(out.code, out.out.empty() || out.out == "0\n" ? 1 : 0) << out.err;
        return querytest::sorted(out.out, nul ? '\0' : '\n');
    };
    using Lines = std::vector<std::string>;
    EXPECT_EQ(found({L"*.cpp"}),
              (Lines{path("src/deep/x.cpp"), path("src/main.cpp"), path("src/util.cpp")}));
    EXPECT_EQ(found({L"{*.cpp,*.h}", L"--count"}), Lines{"4"});
    EXPECT_EQ(found({L"a?.c"}), (Lines{path("src/a1.c"), path("src/ab.c")}));
    EXPECT_EQ(found({L"*.c", L"README"}),
              (Lines{path("README"), path("src/a1.c"), path("src/ab.c")}));
    EXPECT_EQ(found({L"util.{h,cpp}", L"-0"}), (Lines{path("src/util.cpp"), path("src/util.h")}));
    EXPECT_EQ(found({L"*.cpp", L"--under", widePath("src/deep")}), Lines{path("src/deep/x.cpp")});
    EXPECT_EQ(found({L"*", L"--count"}), Lines{"10"});
    EXPECT_EQ(found({L"*.rs"}), Lines{});

    // Names keep their case where the file system does, pattern sets included; -i drops it.
    EXPECT_EQ(found({L"*.CPP", L"--count"}), Lines{kCaseSensitiveNames ? "0" : "3"});
    EXPECT_EQ(found({L"{MAIN.cpp,*.H}", L"--count"}), Lines{kCaseSensitiveNames ? "0" : "2"});
    EXPECT_EQ(found({L"{MAIN.cpp,*.H}", L"-i", L"--count"}), Lines{"2"});
    EXPECT_EQ(found({L"UTIL.H", L"-i"}), Lines{path("src/util.h")});

    const querytest::Output quote = run({L"find", L"a\"b"});
    EXPECT_EQ(quote.code, 2);
    EXPECT_NE(quote.err.find("double quote"), std::string::npos) << quote.err;
    const querytest::Output outside = run({L"find", L"*", L"--under", widePath("nowhere")});
    EXPECT_EQ(outside.code, 1);
    EXPECT_NE(outside.err.find("not in the cache"), std::string::npos) << outside.err;
}

TEST_F(QueryTest, WhereSelectsByCriteriaAndReportsTheLanguagesErrors) {
    querytest::Output where = run({L"where", L"[SIZE] > 1000000 && [FILENAME] == \"*.log\""});
    ASSERT_EQ(where.code, 0) << where.err;
    EXPECT_EQ(where.out, path("docs/big.log") + "\n");

    where = run({L"--json", L"where", L"[SIZE] >= 100", L"--under", widePath("src")});
    ASSERT_EQ(where.code, 0) << where.err;
    const nlohmann::json line = nlohmann::json::parse(where.out);
    EXPECT_EQ(line["path"], path("src/main.cpp"));
    EXPECT_EQ(line["size"], 100);
    EXPECT_EQ(line["attr"], 0x21B6);
    EXPECT_EQ(line["kind"], "file");

    EXPECT_EQ(run({L"where", L"[SIZE] > 5000000"}).code, 1);
    const std::pair<const wchar_t*, const char*> errors[] = {
        {L"[SIZE] >", "SyntaxAnalyzer::factor - unexpected sequence!"},
        {L"[OWNER] == 1", "SyntaxAnalyzer::factor - variable specified not found!"},
        {L"[SIZE] == \"big\"", "SyntaxAnalyzer::relation - relation operands of different types!"},
        {L"[FILENAME]", "not a condition"},
    };
    for (const auto& [criteria, message] : errors) {
        const querytest::Output failed = run({L"where", criteria});
        EXPECT_EQ(failed.code, 2) << utf8::fromWide(criteria);
        EXPECT_NE(failed.err.find(message), std::string::npos) << failed.err;
    }
}

TEST_F(QueryTest, NamesArePrintedAsUtf8) {
    const std::string name = "\xC3\x89t\xC3\xA9.txt";
    const querytest::Output plain = run({L"find", L"\u00C9t\u00E9.txt"});
    EXPECT_EQ(plain.out, path("docs/" + name) + "\n");
    const querytest::Output json = run({L"find", L"*.txt", L"--json"});
    const std::vector<std::string> lines = querytest::sorted(json.out);
    ASSERT_EQ(lines.size(), 2u) << json.out;
    EXPECT_EQ(nlohmann::json::parse(lines[0])["path"], path("docs/notes.txt"));
    EXPECT_EQ(nlohmann::json::parse(lines[1])["path"], path("docs/" + name));
}

TEST_F(QueryTest, PathsOfManyDirectoriesComeFromLookUpsAndThenFromOneWalk) {
    // More directories than the reader looks up one by one before it reads them all.
    constexpr int kDirectories = 300;
    std::vector<std::string> expected;
    for (int i = 0; i < kDirectories; ++i) {
        const std::string name = "d" + std::to_string(i);
        fs::create_directories(root_ / "many" / name);
        writeFile(root_ / "many" / name / "f.dat", 1);
        expected.push_back(path("many/" + name + "/f.dat"));
    }
    cache_ = std::make_unique<FS_Cache>(L"dirs", L"files", cacheDir().c_str(), true, false, false,
                                        nullptr);
    ASSERT_EQ(cache_->create(3600000, FS_CACHE_CREATE), SUCCESS);
    ASSERT_EQ(cache_->build(MonitoredPath(base_, 1)), SCAN_OK);
    std::sort(expected.begin(), expected.end());
    const querytest::Output out = run({L"find", L"*.dat"});
    ASSERT_EQ(out.code, 0) << out.err;
    EXPECT_EQ(querytest::sorted(out.out), expected);
}

TEST_F(QueryTest, AnswersBusyWhileTheLockIsHeldLongerThanTheWait) {
    ASSERT_EQ(cache_->lock(), 0);
    const querytest::Output busy = run({L"--wait", L"300", L"stats"});
    EXPECT_EQ(busy.code, 3);
    EXPECT_NE(busy.err.find("cache busy"), std::string::npos) << busy.err;
    EXPECT_TRUE(busy.out.empty());
    cache_->unlock();
    EXPECT_EQ(run({L"--wait", L"300", L"stats"}).code, 0);
}

TEST_F(QueryTest, NeverChangesAByteOfTheCache) {
    // Bytes and time of last change: a writer's close would set the end again, which touches
    // the time even when the size stays.
    auto snapshot = [&] {
        std::map<fs::path, std::pair<std::vector<uint8_t>, fs::file_time_type>> files;
        for (const auto& entry : fs::directory_iterator(dir_.path() / "cache")) {
            files[entry.path().filename()] = {testsupport::readBytes(entry.path()),
                                              fs::last_write_time(entry.path())};
        }
        return files;
    };
    const auto before = snapshot();
    EXPECT_EQ(run({L"stats"}).code, 0);
    EXPECT_EQ(run({L"ls", widePath("src")}).code, 0);
    EXPECT_EQ(run({L"find", L"*.cpp", L"--under", widePath("src")}).code, 0);
    EXPECT_EQ(run({L"where", L"[PATHID] > 0"}).code, 0);
    EXPECT_TRUE(snapshot() == before);
}

TEST_F(QueryTest, RefusesCachesItCannotUseWithOneLine) {
    auto expectRefused = [](const std::vector<std::wstring>& args, const char* message) {
        const querytest::Output out = query(args);
        EXPECT_EQ(out.code, 2) << utf8::fromWide(args[0]) << " " << utf8::fromWide(args[2]);
        EXPECT_NE(out.err.find(message), std::string::npos) << out.err;
        EXPECT_EQ(split(out.err).size(), 1u) << out.err;
    };
    expectRefused({(dir_.path() / "none").wstring(), L"dirs", L"files", L"stats"}, "no cache");
    expectRefused({cacheDir(), L"dirs", L"nofiles", L"stats"}, "no table 'nofiles'");
    expectRefused({cacheDir(), L"dirs", L"dirs", L"stats"}, "not a cache's files table");

    // A cache of its own, closed, whose files table is then cut short.
    const fs::path damaged = dir_.path() / "damaged";
    fs::create_directories(damaged);
    {
        FS_Cache other(L"dirs", L"files", damaged.wstring().c_str(), true, false, false, nullptr);
        ASSERT_EQ(other.create(3600000, FS_CACHE_CREATE), SUCCESS);
        ASSERT_EQ(other.build(MonitoredPath(base_, 1)), SCAN_OK);
        other.closeCache();
    }
    const fs::path data = damaged / "files.dat";
    for (uintmax_t size : {fs::file_size(data) / 2, uintmax_t{5}, uintmax_t{0}}) {
        fs::resize_file(data, size);
        expectRefused({damaged.wstring(), L"dirs", L"files", L"stats"}, "damaged cache");
        // Cut short behind the header: the walk meets records that are not there.
        if (size > 5) {
            expectRefused({damaged.wstring(), L"dirs", L"files", L"find", L"*"},
                          "damaged cache: a record of table 'files' cannot be read");
        }
    }
}

}  // namespace
