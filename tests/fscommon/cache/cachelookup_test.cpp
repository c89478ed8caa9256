#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "cache/fscache.h"
#include "cachefixture.h"
#include "smallstack.h"
#include "text/utf8.h"

namespace fs = std::filesystem;
using cachetest::CacheFixture;
using cachetest::kLinux;
using cachetest::writeFile;

namespace {

constexpr wchar_t kSep = platform::kPathSeparator;

// Records written straight into the tables, to shape trees the disk cannot hold.
class Records {
  public:
    explicit Records(FS_Cache& cache) : cache_(cache) {}

    uint32_t directory(uint32_t parent, const std::wstring& name,
                       const std::wstring& shortName = L"") {
        RecordSet& records = cache_.directoriesRecords();
        const uint32_t id = ++cache_.directoriesCounter();
        records.setUInt32(L"ID", id);
        records.setString(L"PATHNAME", name.c_str());
        records.setString(L"SHORTPATHNAME", shortName.c_str());
        records.setUInt32(L"PARENTID", parent);
        records.setUInt32(L"CREATIONTIME", 0);
        EXPECT_TRUE(records.addRecord());
        return id;
    }
    void file(uint32_t directory, const std::wstring& name, uint64_t size,
              const std::wstring& shortName = L"") {
        RecordSet& records = cache_.filesRecords();
        records.setString(L"FILENAME", name.c_str());
        records.setString(L"SHORTFILENAME", shortName.c_str());
        records.setUInt32(L"ATTR", 0x21B6);
        records.setUInt64(L"SIZE", size);
        records.setUInt32(L"PATHID", directory);
        records.setString(L"MD5", L"0");
        records.setUInt32(L"CRC32", 0);
        records.setUInt32(L"Q32", 0);
        EXPECT_TRUE(records.addRecord());
    }

  private:
    FS_Cache& cache_;
};

// The id of the directory record of path, or 0 when it is not found.
uint32_t find(FS_Cache& cache, const std::wstring& path, bool caseSensitive = false) {
    if (!cache.findDirectory(cache.directoriesRecords(), cache.parentRecords(), path.c_str(),
                             caseSensitive)) {
        return 0;
    }
    return cache.directoriesRecords().getUInt32(L"ID");
}

// The size of the file record name in directory, or -1 when it is not found.
int64_t fileSize(FS_Cache& cache, uint32_t directory, const std::wstring& name) {
    if (!cache.findFile(cache.filesRecords(), directory, name.c_str(), false))
        return -1;
    return static_cast<int64_t>(cache.filesRecords().getUInt64(L"SIZE"));
}

// A name as the file-system library takes it (on Linux its bytes, whatever the locale).
fs::path nativeName(const std::wstring& name) {
    if constexpr (kLinux)
        return fs::path(utf8::fromWide(name));
    return fs::path(name);
}

const std::wstring kRoot = kLinux ? L"/" : L"C:\\";

}  // namespace

TEST(CacheLookup, EveryDirectoryOfABuiltTreeAndNothingElse) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    testsupport::TempDir disk;
    // Names repeated under several parents.
    for (const char* top : {"a", "b", "src"}) {
        fs::create_directories(disk.path() / top / "src" / "lib");
        writeFile(disk.path() / top / "src" / "main.c", 1);
    }
    ASSERT_EQ(cache.build(MonitoredPath(disk.wide(), 1)), SCAN_OK);
    const cachetree::TableView view = f.view();
    ASSERT_FALSE(view.ids.empty());
    for (const auto& [path, id] : view.ids) {
        EXPECT_EQ(find(cache, path), id) << testing::PrintToString(path);
        if (path.back() != kSep) {
            EXPECT_EQ(find(cache, path + kSep), id) << testing::PrintToString(path);
        }
    }
    const std::wstring src = (disk.path() / "b" / "src").wstring();
    EXPECT_EQ(find(cache, src + kSep + L"main.c"), 0u);  // a file
    EXPECT_EQ(find(cache, src + kSep + L"missing"), 0u);
    EXPECT_EQ(find(cache, (disk.path() / "missing" / "src").wstring()), 0u);
    EXPECT_EQ(find(cache, L"src"), 0u);  // not a path from a root
    EXPECT_EQ(find(cache, L""), 0u);
    EXPECT_EQ(fileSize(cache, view.ids.at(src), L"main.c"), 1);
    EXPECT_EQ(fileSize(cache, view.ids.at(src), L"lib"), -1);
}

TEST(CacheLookup, NamesAreMatchedLiterally) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    Records records(cache);
    const uint32_t root = records.directory(0, kRoot);
    const uint32_t dir = records.directory(root, L"dir");
    // Names the criteria language would read as patterns, next to names they would match.
    const std::wstring names[] = {L"x.txt", L"*.txt", L"*", L"?", L"a*b", L"aXb", L"[x]", L"x"};
    uint64_t size = 1;
    std::map<std::wstring, uint32_t> ids;
    for (const std::wstring& name : names) {
        ids[name] = records.directory(dir, name);
        records.file(dir, name, size++);
    }
    size = 1;
    for (const std::wstring& name : names) {
        EXPECT_EQ(find(cache, kRoot + L"dir" + kSep + name), ids[name])
            << testing::PrintToString(name);
        EXPECT_EQ(fileSize(cache, dir, name), static_cast<int64_t>(size++))
            << testing::PrintToString(name);
    }
    // A pattern that matches other names but is no name itself finds nothing.
    for (const wchar_t* pattern : {L"*x", L"?.txt", L"a?b", L"x*"}) {
        EXPECT_EQ(find(cache, kRoot + L"dir" + kSep + pattern), 0u);
        EXPECT_EQ(fileSize(cache, dir, pattern), -1);
    }
    // Pattern characters in a component above the last one count literally too.
    records.directory(ids[L"*"], L"inner");
    EXPECT_NE(find(cache, kRoot + L"dir" + kSep + L"*" + kSep + L"inner"), 0u);
    EXPECT_EQ(find(cache, kRoot + L"dir" + kSep + L"?" + kSep + L"inner"), 0u);
}

TEST(CacheLookup, LetterCaseFollowsThePlatform) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    Records records(cache);
    const uint32_t root = records.directory(0, kRoot);
    const uint32_t upper = records.directory(root, L"Data");
    records.file(upper, L"Read.Me", 7);
    const std::wstring path = kRoot + L"DATA";
    if (kLinux) {
        // Names that differ in case are different names.
        EXPECT_EQ(find(cache, path), 0u);
        const uint32_t lower = records.directory(root, L"data");
        EXPECT_EQ(find(cache, kRoot + L"data"), lower);
        EXPECT_EQ(find(cache, kRoot + L"Data"), upper);
        EXPECT_EQ(fileSize(cache, upper, L"read.me"), -1);
    } else {
        EXPECT_EQ(find(cache, path), upper);
        EXPECT_EQ(find(cache, L"c:\\data"), upper);
        EXPECT_EQ(fileSize(cache, upper, L"READ.ME"), 7);
        EXPECT_EQ(find(cache, path, true), 0u);
    }
}

TEST(CacheLookup, ShortNamesOnlyWhereThePlatformHasThem) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    Records records(cache);
    const uint32_t root = records.directory(0, kRoot);
    const uint32_t program = records.directory(root, L"Program Files", L"PROGRA~1");
    records.file(program, L"LongName.text", 5, L"LONGNA~1.TXT");
    const uint32_t tilde = records.directory(root, L"a~1");
    const uint32_t documents = records.directory(root, L"Documents", L"DOCSET");
    EXPECT_EQ(find(cache, kRoot + L"a~1"), tilde);
    EXPECT_EQ(find(cache, kRoot + L"Program Files"), program);
    // A short name without "~" is never looked at.
    EXPECT_EQ(find(cache, kRoot + L"DOCSET"), 0u);
    EXPECT_EQ(find(cache, kRoot + L"documents"), kLinux ? 0u : documents);
    const uint32_t expected = platform::kHasShortNames ? program : 0u;
    EXPECT_EQ(find(cache, kRoot + L"PROGRA~1"), expected);
    EXPECT_EQ(fileSize(cache, program, L"LONGNA~1.TXT"), expected ? 5 : -1);
}

TEST(CacheLookup, NamesakesAndEquallyNamedSiblings) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    Records records(cache);
    const uint32_t root = records.directory(0, kRoot);
    // Many directories share the last name; one parent has many children.
    std::vector<uint32_t> parents;
    for (int i = 0; i < 300; ++i)
        parents.push_back(records.directory(root, L"p" + std::to_wstring(i)));
    std::vector<uint32_t> srcs;
    for (uint32_t parent : parents)
        srcs.push_back(records.directory(parent, L"src"));
    for (int i = 0; i < 300; i += 37) {
        EXPECT_EQ(find(cache, kRoot + L"p" + std::to_wstring(i) + kSep + L"src"), srcs[i]);
    }
    // Two equally named siblings: the path exists below the first one only.
    const uint32_t first = records.directory(root, L"twin");
    records.directory(root, L"twin");
    const uint32_t below = records.directory(first, L"inside");
    EXPECT_EQ(find(cache, kRoot + L"twin" + kSep + L"inside"), below);
    EXPECT_NE(find(cache, kRoot + L"twin"), 0u);
}

TEST(CacheLookup, NamesOutsideTheBasicPlaneAndUndecodableBytesRoundTrip) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    testsupport::TempDir disk;
    // U+1D11E, a surrogate pair on Windows; on Linux also bytes that are no UTF-8 at all.
    const std::wstring wide = L"clef-\U0001D11E";
    const std::wstring raw = kLinux ? utf8::toWide(std::string("raw\xFF\xC3(", 6)) : L"plain";
    for (const std::wstring& name : {wide, raw}) {
        const fs::path dir = disk.path() / nativeName(name);
        fs::create_directories(dir);
        writeFile(dir / nativeName(name + L".txt"), name.size());
    }
    ASSERT_EQ(cache.build(MonitoredPath(disk.wide(), 1)), SCAN_OK);
    cachetest::expectMatchesDisk(f.view(), disk.wide());
    for (const std::wstring& name : {wide, raw}) {
        const uint32_t id = find(cache, disk.wide() + kSep + name);
        ASSERT_NE(id, 0u);
        EXPECT_STREQ(cache.directoriesRecords().getString(L"PATHNAME"), name.c_str());
        EXPECT_EQ(fileSize(cache, id, name + L".txt"), static_cast<int64_t>(name.size()));
    }
}

TEST(CacheRemove, RemoveTreeLeavesNoOrphans) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    testsupport::TempDir disk;
    for (const char* path : {"keep/a", "keep/b", "gone/a/b/c", "gone/d", "gone/a/e"}) {
        fs::create_directories(disk.path() / path);
        writeFile(disk.path() / path / "f", 2);
    }
    writeFile(disk.path() / "gone" / "top.txt", 3);
    ASSERT_EQ(cache.build(MonitoredPath(disk.wide(), 1)), SCAN_OK);
    const std::wstring gone = (disk.path() / "gone").wstring();
    const uint32_t id = f.view().ids.at(gone);
    cache.removeTree(cache.directoriesTable(), cache.filesTable(), id);
    const cachetree::TableView view = f.view();
    EXPECT_TRUE(view.faults.empty()) << testing::PrintToString(view.faults);
    fs::remove_all(gone);
    cachetest::expectMatchesDisk(view, disk.wide());

    // removeFiles takes the files of one directory only.
    const uint32_t a = view.ids.at((disk.path() / "keep" / "a").wstring());
    cache.removeFiles(cache.filesTable(), a);
    EXPECT_EQ(fileSize(cache, a, L"f"), -1);
    EXPECT_EQ(fileSize(cache, view.ids.at((disk.path() / "keep" / "b").wstring()), L"f"), 2);
}

TEST(CacheRemove, ChainOfTwoThousandLevelsOnASmallStack) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    Records records(cache);
    const uint32_t root = records.directory(0, kRoot);
    uint32_t parent = records.directory(root, L"top");
    const uint32_t top = parent;
    for (int level = 0; level < 2000; ++level) {
        records.file(parent, L"f", 1);
        if (level % 10 == 0)
            records.directory(parent, L"side");
        parent = records.directory(parent, L"d");
    }
    ASSERT_TRUE(testsupport::runWithStack(
        256 * 1024, [&] { cache.removeTree(cache.directoriesTable(), cache.filesTable(), top); }));
    const cachetree::TableView view = f.view();
    EXPECT_TRUE(view.faults.empty());
    EXPECT_EQ(view.tree.size(), 1u);
    EXPECT_EQ(view.ids.at(kRoot), root);
}
