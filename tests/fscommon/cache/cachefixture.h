// A cache in a directory of its own, and the trees the cache tests build on disk.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "cache/fscache.h"
#include "cachetree.h"
#include "system/platform.h"
#include "testsupport.h"

namespace cachetest {

inline constexpr bool kLinux = platform::kPathSeparator == L'/';

class CacheFixture {
  public:
    explicit CacheFixture(bool checker = false, uint32_t collectFlags = 31) {
        settings.collectFlags = collectFlags;
        reopen(checker);
    }
    // A new cache object over the same directory (the old one is destroyed first).
    FS_Cache& reopen(bool checker = false) {
        cache.reset();
        cache = std::make_unique<FS_Cache>(L"dirs", L"files", dir.wide().c_str(), true, false,
                                           checker, &settings);
        return *cache;
    }
    // A cache with new tables.
    FS_Cache& created() {
        EXPECT_EQ(cache->create(3600000, FS_CACHE_CREATE), SUCCESS);
        return *cache;
    }
    std::filesystem::path file(const wchar_t* name) const { return dir.path() / name; }
    cachetree::TableView view() const {
        return cachetree::readTables(*cache->directoriesTable(), *cache->filesTable());
    }

    testsupport::TempDir dir;
    CacheSettings settings;
    std::unique_ptr<FS_Cache> cache;
};

inline void writeFile(const std::filesystem::path& path, size_t size) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'v');
}

// The tables' tree below root equals the disk's, and no record breaks a link.
inline void expectMatchesDisk(const cachetree::TableView& view, const std::wstring& root,
                              bool recursive = true) {
    EXPECT_TRUE(view.faults.empty()) << testing::PrintToString(view.faults);
    const cachetree::Tree disk = cachetree::readDisk(root, recursive);
    std::wstring top = root;
    if (top.size() > 1 && top.back() == platform::kPathSeparator)
        top.pop_back();
    const cachetree::Tree recorded = cachetree::below(view.tree, top);
    const cachetree::Tree expected = cachetree::below(disk, top);
    EXPECT_TRUE(recorded == expected)
        << testing::PrintToString(cachetree::describeDifferences(expected, recorded));
}

}  // namespace cachetest
