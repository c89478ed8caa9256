#include "text/pathhelper.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "nativepath.h"
#include "system/platform.h"

using testsupport::nativePath;

namespace {

std::vector<std::wstring> texts(const MonitoredPathList& list) {
    std::vector<std::wstring> out;
    for (const auto& p : list)
        out.push_back(*p.path);
    return out;
}

std::vector<std::wstring> native(std::initializer_list<const wchar_t*> paths) {
    std::vector<std::wstring> out;
    for (const wchar_t* p : paths)
        out.push_back(nativePath(p));
    return out;
}

}  // namespace

TEST(SplitPath, Examples) {
    MonitoredPathList ancestors, names;
    PathHelper::splitPath(MonitoredPath(nativePath(L"C:\\A\\B"), 1), ancestors, names);
    EXPECT_EQ(texts(ancestors), native({L"C:\\A\\B", L"C:\\A", L"C:\\"}));
    EXPECT_EQ(texts(names), native({L"B", L"A", L"C:\\"}));
    for (const auto& p : ancestors)
        EXPECT_EQ(p.recursive, 1);

    ancestors.clear(), names.clear();
    PathHelper::splitPath(MonitoredPath(nativePath(L"C:\\A\\"), 0), ancestors, names);
    EXPECT_EQ(texts(ancestors), native({L"C:\\A", L"C:\\"}));
    EXPECT_EQ(texts(names), native({L"A", L"C:\\"}));
    EXPECT_EQ(names[0].recursive, 0);

    ancestors.clear(), names.clear();
    PathHelper::splitPath(MonitoredPath(nativePath(L"C:\\"), 1), ancestors, names);
    EXPECT_EQ(texts(ancestors), native({L"C:\\"}));
    EXPECT_EQ(texts(names), native({L"C:\\"}));

    ancestors.clear(), names.clear();
    PathHelper::splitPath(MonitoredPath(L"plain", 1), ancestors, names);
    EXPECT_EQ(texts(ancestors), std::vector<std::wstring>{L"plain"});
    EXPECT_EQ(texts(names), std::vector<std::wstring>{L"plain"});

    ancestors.clear(), names.clear();
    PathHelper::splitPath(MonitoredPath(), ancestors, names);
    EXPECT_TRUE(ancestors.empty() && names.empty());
}

TEST(RealPath, LengthLimit) {
    // An absolute path one unit shorter than the limit is attempted, one of the limit refused.
    std::wstring path = nativePath(L"C:\\");
    while (path.size() + 101 < platform::kMaxPath - 1)
        path += std::wstring(100, L'a') + platform::kPathSeparator;
    path += std::wstring(platform::kMaxPath - 1 - path.size(), L'b');
    ASSERT_EQ(path.size(), platform::kMaxPath - 1);
    auto resolved = PathHelper::realPath(path.c_str());
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->size(), platform::kMaxPath - 1);
    path += L'c';
    EXPECT_FALSE(PathHelper::realPath(path.c_str()).has_value());
    EXPECT_FALSE(PathHelper::realPath(nullptr).has_value());
}

TEST(RealPath, RelativeAndDots) {
    const std::wstring cwd = std::filesystem::current_path().wstring();
    auto r = PathHelper::realPath(L"sub");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, cwd + platform::kPathSeparator + L"sub");
    r = PathHelper::realPath(nativePath(L"C:\\x\\.\\y\\..\\z").c_str());
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, nativePath(L"C:\\x\\z"));
    // The case of the input is kept and a trailing separator stays.
    r = PathHelper::realPath(nativePath(L"C:\\Data\\Mon\\").c_str());
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, nativePath(L"C:\\Data\\Mon\\"));
}
