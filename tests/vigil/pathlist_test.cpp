#include "pathlist.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "nativepath.h"
#include "system/platform.h"
#include "testsupport.h"
#include "text/pathhelper.h"
#include "text/strutil.h"

namespace fs = std::filesystem;
using testsupport::nativePath;

namespace {

std::vector<std::wstring> texts(const MonitoredPathList& list) {
    std::vector<std::wstring> out;
    for (const auto& p : list) {
        out.push_back(*p.path);
        EXPECT_EQ(p.recursive, 1);
    }
    return out;
}

MonitoredPathList entries(std::initializer_list<std::pair<const wchar_t*, uint8_t>> items) {
    MonitoredPathList list;
    for (const auto& [text, recursive] : items)
        list.emplace_back(nativePath(text), recursive);
    return list;
}

std::vector<std::wstring> pathsOf(const MonitoredPathList& list) {
    std::vector<std::wstring> out;
    for (const auto& p : list)
        out.push_back(*p.path + (p.recursive ? L"+" : L""));
    return out;
}

std::wstring withSeparator(std::wstring path) {
    if (path.back() != platform::kPathSeparator)
        path += platform::kPathSeparator;
    return path;
}

// Builds the list against the machine's drives (Windows) or a fixed mount table (Linux:
// ext4 "/" and "/home", tmpfs "/ramdisk", nfs "/net"; the tests run from a directory on "/").
class PathList : public ::testing::Test {
  protected:
    void SetUp() override {
#if !defined(_WIN32)
        testsupport::writeText(dir_.path() / "mountinfo",
                               "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                               "22 21 0:20 / /ramdisk rw - tmpfs tmpfs rw\n"
                               "23 21 0:30 / /net rw - nfs server:/export rw\n"
                               "26 21 8:2 / /home rw - ext4 /dev/sda2 rw\n");
        source_.mountInfo = (dir_.path() / "mountinfo").wstring();
        source_.sysDevBlock = (dir_.path() / "no-sys").wstring();
#endif
    }
    bool build(const std::wstring& list, MonitoredPathList& result) {
        return buildMonitoredPathList(list.c_str(), result, source_);
    }
    std::vector<std::wstring> fixedRoots() {
        DriveHelper helper(source_);
        DriveList drives;
        helper.buildDriveList(drives, DRIVE_TYPE_FIXED);
        std::vector<std::wstring> out;
        for (const auto& d : drives)
            out.push_back(withSeparator(d.root));
        return out;
    }

    testsupport::TempDir dir_;
    DriveSource source_;
};

}  // namespace

TEST(ExtractPathList, SeparatorsAndEmptyEntries) {
    MonitoredPathList list;
    extractMonitoredPathList(L"a;b;", list);
    EXPECT_EQ(texts(list), (std::vector<std::wstring>{L"a", L"b"}));
    list.clear();
    extractMonitoredPathList(L";;x", list);
    EXPECT_EQ(texts(list), (std::vector<std::wstring>{L"", L"", L"x"}));
    list.clear();
    extractMonitoredPathList(L" a ;b;;c", list);  // no trimming
    EXPECT_EQ(texts(list), (std::vector<std::wstring>{L" a ", L"b", L"", L"c"}));
    list.clear();
    extractMonitoredPathList(L"", list);
    EXPECT_TRUE(list.empty());
    extractMonitoredPathList(L";", list);
    EXPECT_EQ(texts(list), (std::vector<std::wstring>{L""}));
}

TEST(NormalisePathList, CoveredEntriesGo) {
    MonitoredPathList target;
    PathHelper::normalisePathList(
        entries({{L"C:\\A\\B\\", 1}, {L"C:\\A\\", 1}, {L"C:\\A\\C\\", 1}, {L"C:\\AB\\", 1}}),
        target);
    EXPECT_EQ(pathsOf(target),
              (std::vector<std::wstring>{nativePath(L"C:\\A\\+"), nativePath(L"C:\\AB\\+")}));
    target.clear();
    PathHelper::normalisePathList(entries({{L"C:\\A\\", 1}, {L"C:\\A\\", 1}}), target);
    EXPECT_EQ(target.size(), 1u);
}

TEST(NormalisePathList, NonRecursiveEntriesCoverOnlyThemselves) {
    MonitoredPathList target;
    PathHelper::normalisePathList(entries({{L"C:\\A\\", 0}, {L"C:\\A\\B\\", 1}}), target);
    EXPECT_EQ(target.size(), 2u);
    target.clear();
    PathHelper::normalisePathList(entries({{L"C:\\A\\B\\", 1}, {L"C:\\A\\", 0}}), target);
    EXPECT_EQ(target.size(), 2u);
    target.clear();
    PathHelper::normalisePathList(entries({{L"C:\\A\\", 0}, {L"C:\\A\\", 1}}), target);
    EXPECT_EQ(pathsOf(target), (std::vector<std::wstring>{nativePath(L"C:\\A\\+")}));
    target.clear();
    PathHelper::normalisePathList(entries({{L"C:\\A\\", 1}, {L"C:\\A\\", 0}}), target);
    EXPECT_EQ(pathsOf(target), (std::vector<std::wstring>{nativePath(L"C:\\A\\+")}));
}

TEST_F(PathList, EntryBelowAnotherGoesWhicheverComesFirst) {
#if defined(_WIN32)
    const std::wstring expected = L"C:\\DATA\\";
    const std::wstring first = L"c:\\data;C:\\DATA\\sub", second = L"C:\\DATA\\sub;c:\\data";
#else
    const std::wstring expected = L"/data/";
    const std::wstring first = L"/data;/data/sub", second = L"/data/sub;/data";
#endif
    MonitoredPathList result;
    ASSERT_TRUE(build(first, result));
    EXPECT_EQ(texts(result), std::vector<std::wstring>{expected});
    result.clear();
    ASSERT_TRUE(build(second, result));
    EXPECT_EQ(texts(result), std::vector<std::wstring>{expected});
}

TEST_F(PathList, LocalStandsForTheFixedDriveRoots) {
    MonitoredPathList result;
    ASSERT_TRUE(build(nativePath(L"$LOCAL;C:\\Windows"), result));
    auto roots = fixedRoots();
    ASSERT_FALSE(roots.empty());
    // Roots below another root (Linux mount points) are covered by it.
    MonitoredPathList rootList, expected;
    for (const auto& r : roots)
        rootList.emplace_back(r, 1);
    PathHelper::normalisePathList(rootList, expected);
    EXPECT_EQ(texts(result), texts(expected));
#if !defined(_WIN32)
    EXPECT_EQ(texts(result), std::vector<std::wstring>{L"/"});
#endif
}

TEST_F(PathList, RelativeAndEmptyEntriesResolveAgainstTheCurrentDirectory) {
    const std::wstring cwd = withSeparator(fs::current_path().wstring());
    const std::wstring form = platform::kNamesCaseSensitive ? cwd : toUpper(cwd);
    MonitoredPathList result;
    ASSERT_TRUE(build(L"sub", result));
    EXPECT_EQ(texts(result),
              std::vector<std::wstring>{form + (platform::kNamesCaseSensitive ? L"sub" : L"SUB") +
                                        platform::kPathSeparator});
    result.clear();
    ASSERT_TRUE(build(L";;sub", result));
    EXPECT_EQ(texts(result), std::vector<std::wstring>{form});
}

TEST_F(PathList, UnresolvableEntryFailsTheWholeList) {
    MonitoredPathList result;
    const std::wstring tooLong = nativePath(L"C:\\") + std::wstring(platform::kMaxPath, L'x');
    EXPECT_FALSE(build(nativePath(L"C:\\data;") + tooLong, result));
    EXPECT_TRUE(result.empty());
}

TEST_F(PathList, PathsOffFixedDrivesAreDropped) {
    MonitoredPathList result;
#if defined(_WIN32)
    // A drive letter that does not exist here.
    std::wstring absent;
    for (wchar_t letter = L'Y'; letter > L'D' && absent.empty(); --letter) {
        std::wstring root = std::wstring(1, letter) + L":\\";
        if (!fs::exists(root))
            absent = root + L"x";
    }
    ASSERT_FALSE(absent.empty());
    ASSERT_TRUE(build(absent + L";C:\\data", result));
    EXPECT_EQ(texts(result), std::vector<std::wstring>{L"C:\\DATA\\"});
#else
    ASSERT_TRUE(build(L"/ramdisk/x;/net/share;/home/u", result));
    EXPECT_EQ(texts(result), std::vector<std::wstring>{L"/home/u/"});
    result.clear();
    ASSERT_TRUE(build(L"/ramdisk", result));
    EXPECT_TRUE(result.empty()) << "nothing to watch, still a valid list";
#endif
}

TEST_F(PathList, CaseOfPaths) {
    MonitoredPathList result;
    ASSERT_TRUE(build(nativePath(L"C:\\Data\\Mon"), result));
#if defined(_WIN32)
    EXPECT_EQ(texts(result), std::vector<std::wstring>{L"C:\\DATA\\MON\\"});
#else
    // Linux names are case-sensitive: /Data and /data are different directories.
    EXPECT_EQ(texts(result), std::vector<std::wstring>{L"/Data/Mon/"});
    result.clear();
    ASSERT_TRUE(build(L"/data;/DATA", result));
    EXPECT_EQ(texts(result), (std::vector<std::wstring>{L"/data/", L"/DATA/"}));
#endif
}
