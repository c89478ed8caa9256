#include <gtest/gtest.h>

#include <filesystem>

#include "cache/fscache.h"
#include "cachefixture.h"

namespace fs = std::filesystem;
using cachetest::CacheFixture;

namespace {

void writeCounter(const fs::path& path, std::vector<uint8_t> bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::wstring> fieldsOf(const Table& table) {
    std::vector<std::wstring> names;
    for (size_t i = 0; i < table.schema().fieldCount(); ++i) {
        const Field* field = table.schema().fieldAt(i);
        names.push_back(std::wstring(field->name()) + L":" + std::to_wstring(field->type()));
    }
    return names;
}

}  // namespace

TEST(CacheLifecycle, CreateMakesTheSchemaIndexesCounterAndMutexName) {
    CacheFixture f;
    FS_Cache& cache = f.created();
    EXPECT_EQ(fieldsOf(*cache.directoriesTable()),
              (std::vector<std::wstring>{L"ID:3", L"PATHNAME:5", L"SHORTPATHNAME:5", L"PARENTID:3",
                                         L"CREATIONTIME:3"}));
    EXPECT_EQ(fieldsOf(*cache.filesTable()),
              (std::vector<std::wstring>{L"FILENAME:5", L"SHORTFILENAME:5", L"ATTR:3", L"SIZE:4",
                                         L"PATHID:3", L"MD5:5", L"CRC32:3", L"Q32:3"}));
    for (const wchar_t* index :
         {L"dirs_PATHNAME", L"dirs_SHORTPATHNAME", L"dirs_ID", L"dirs_PARENTID", L"files_FILENAME",
          L"files_SHORTFILENAME", L"files_PATHID"}) {
        EXPECT_TRUE(fs::exists(f.file((std::wstring(index) + L".idx").c_str()))) << index;
    }
    EXPECT_EQ(testsupport::readBytes(f.file(L"dirs.counter")), (std::vector<uint8_t>{0, 0, 0, 0}));

    // The cache directory's separators and colons become "_".
    std::wstring expected = f.dir.wide() + L"_c_mutex";
    for (wchar_t& c : expected) {
        if (c == platform::kPathSeparator || c == L':')
            c = L'_';
    }
    EXPECT_EQ(cache.accessMutexName(), expected);
    EXPECT_EQ(cache.lock(), 0);
    EXPECT_TRUE(cache.unlock());
}

TEST(CacheLifecycle, DispositionsAndSecondCreate) {
    testsupport::LogCapture log;
    CacheFixture f;
    EXPECT_EQ(f.cache->create(0, 3), CACHE_FAILED);
    EXPECT_EQ(f.cache->directoriesTable(), nullptr);
    // Nothing to open yet: the missing counter counts as corruption.
    EXPECT_EQ(f.cache->create(0, FS_CACHE_OPEN), CACHE_FAILED);
    EXPECT_TRUE(f.cache->isCorrupted());
    EXPECT_TRUE(log.has("FS_Cache::openCache() - cache corrupted or directoriesIndex invalid"));
    EXPECT_EQ(f.cache->create(0, FS_CACHE_OPEN_ALWAYS), SUCCESS);
    EXPECT_FALSE(f.cache->isCorrupted());
    EXPECT_EQ(f.cache->create(0, FS_CACHE_CREATE), CACHE_ALREADY_OPENED);
    EXPECT_TRUE(log.has("FS_Cache::create - retValue is CACHE_ALREADY_OPENED!"));

    // What was written is found again by a cache that opens the tables.
    fs::create_directories(f.dir.path() / "tree" / "sub");
    cachetest::writeFile(f.dir.path() / "tree" / "sub" / "a.txt", 12);
    const std::wstring tree = (f.dir.path() / "tree").wstring();
    EXPECT_EQ(f.cache->build(MonitoredPath(tree, 1)), SCAN_OK);
    const uint32_t last = f.cache->directoriesCounter();
    EXPECT_TRUE(f.cache->writeDirectoriesIndex());
    f.cache->closeCache();
    FS_Cache& reopened = f.reopen();
    EXPECT_EQ(reopened.create(0, FS_CACHE_OPEN), SUCCESS);
    EXPECT_EQ(reopened.directoriesCounter(), last);
    cachetest::expectMatchesDisk(f.view(), tree);
}

TEST(CacheLifecycle, CounterAboveTheLimitIsRefused) {
    CacheFixture f;
    f.created();
    f.cache->closeCache();
    struct Case {
        std::vector<uint8_t> bytes;
        bool accepted;
    } cases[] = {
        {{0x34, 0x33, 0x33, 0xF3}, false},  // 0xF3333334
        {{0x33, 0x33, 0x33, 0xF3}, true},   // 0xF3333333
        {{0x33, 0x33, 0x33}, false},        // cut short
        {{1, 0, 0, 0, 0}, false},           // not a counter
    };
    for (const Case& c : cases) {
        writeCounter(f.file(L"dirs.counter"), c.bytes);
        FS_Cache& cache = f.reopen();
        EXPECT_EQ(cache.openCache(), c.accepted) << c.bytes.size();
        EXPECT_EQ(cache.isCorrupted(), !c.accepted);
        if (c.accepted) {
            EXPECT_EQ(cache.directoriesCounter(), 0xF3333333u);
        }
        cache.closeCache();
    }
}

TEST(CacheLifecycle, UpdateMarkerOnlyWithTheChecker) {
    testsupport::LogCapture log;
    const fs::path marker = L"dirs.cuflag";
    {
        CacheFixture f(false);
        f.created();
        EXPECT_FALSE(f.cache->insideCacheUpdate());
        EXPECT_FALSE(fs::exists(f.dir.path() / marker));
        f.cache->closeCache();
        EXPECT_TRUE(f.reopen(false).openCache());
        EXPECT_FALSE(fs::exists(f.dir.path() / marker));
    }
    CacheFixture f(true);
    f.created();
    EXPECT_TRUE(fs::exists(f.dir.path() / marker));
    EXPECT_TRUE(f.cache->insideCacheUpdate());
    // A process that ended without closing left its marker: the next open refuses the cache and
    // the marker stays.
    f.cache.reset();
    FS_Cache& next = f.reopen(true);
    EXPECT_FALSE(next.openCache());
    EXPECT_TRUE(next.isCorrupted());
    next.closeCache();
    EXPECT_TRUE(fs::exists(f.dir.path() / marker));
    // Once the marker is gone the cache opens, and closing removes the marker again.
    fs::remove(f.dir.path() / marker);
    FS_Cache& last = f.reopen(true);
    EXPECT_TRUE(last.openCache());
    EXPECT_TRUE(fs::exists(f.dir.path() / marker));
    last.closeCache();
    EXPECT_FALSE(fs::exists(f.dir.path() / marker));
    EXPECT_TRUE(log.has("FS_Cache::insideCacheUpdate - cacheChecker disabled!"));
}

TEST(CacheLifecycle, TeardownRemovesEveryFile) {
    CacheFixture f(true);
    EXPECT_FALSE(f.cache->deleteCache());
    f.created();
    cachetest::writeFile(f.file(L"ex_hash"), 3);
    EXPECT_EQ(f.cache->lock(), 0);
    EXPECT_TRUE(f.cache->closeCache());
    EXPECT_TRUE(f.cache->deleteCache());
    EXPECT_TRUE(f.cache->unlock());
    EXPECT_TRUE(fs::is_empty(f.dir.path()));
}

TEST(CacheLifecycle, UninitialisedCacheRefusesEverything) {
    CacheSettings settings;
    FS_Cache cache(nullptr, L"files", L".", true, false, false, &settings);
    EXPECT_FALSE(cache.isInitialized());
    EXPECT_EQ(cache.create(0, FS_CACHE_CREATE), CACHE_FAILED);
    EXPECT_FALSE(cache.openCache());
    EXPECT_FALSE(cache.createCache());
    EXPECT_TRUE(cache.closeCache());
    EXPECT_EQ(cache.lock(), CACHE_FAILED);
}
