// Directory listing and content digests: a directory of 100,000 entries listed with attributes
// through the listing layer and, in the same run, by a bare readdir + fstatat loop (the layer's
// goal is within 1.2x of it); MD5 and CRC-32 throughput; the digests of a cached file.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "fsbuild/crc32.h"
#include "fsbuild/fsbuild.h"
#include "fsbuild/md5.h"
#include "listing/listing.h"
#include "system/sysinfo.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 100000;

// A scratch directory filled once, removed at exit: files of a few bytes and one directory in
// a hundred, names like a source tree's.
class BenchTree {
  public:
    BenchTree() {
        root_ = fs::temp_directory_path() /
                ("vigil-bench-fsbuild-" + std::to_string(sysinfo::currentProcessId()));
        fs::create_directories(root_ / "big");
        for (int i = 0; i < kEntries; ++i) {
            const fs::path p = root_ / "big" / ("entry-" + std::to_string(i) + ".txt");
            if (i % 100 == 0)
                fs::create_directory(p);
            else
                std::ofstream(p) << i;
        }
        file_ = root_ / "content.bin";
        std::vector<char> bytes(64 << 20);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 2654435761u >> 13);
        std::ofstream(file_, std::ios::binary).write(bytes.data(), bytes.size());
    }
    ~BenchTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    fs::path big() const { return root_ / "big"; }
    fs::path file() const { return file_; }

  private:
    fs::path root_;
    fs::path file_;
};

BenchTree& tree() {
    static BenchTree t;
    return t;
}

// One pass over the directory through the listing layer; the number of entries.
uint64_t listThroughLayer(const std::wstring& dir, listing::ListingEntry& entry) {
    listing::DirectoryListing list;
    if (list.open(dir) != 0)
        return 0;
    uint64_t count = 0, sum = 0;
    while (list.next(entry) == 0) {
        ++count;
        sum += entry.size() + entry.attributes + entry.name.size();
    }
    benchmark::DoNotOptimize(sum);
    return count;
}

// The same with nothing but readdir and fstatat.
uint64_t listBare(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return 0;
    uint64_t count = 0, sum = 0;
    while (const dirent* e = readdir(d)) {
        struct stat st;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            sum += static_cast<uint64_t>(st.st_size) + st.st_mode;
        ++count;
    }
    closedir(d);
    benchmark::DoNotOptimize(sum);
    return count;
}

void BM_ListingLayer(benchmark::State& state) {
    const std::wstring dir = tree().big().wstring();
    listing::ListingEntry entry;
    for (auto _ : state) {
        if (listThroughLayer(dir, entry) != kEntries + 2)
            state.SkipWithError("listing incomplete");
    }
    state.SetItemsProcessed(state.iterations() * (kEntries + 2));
}

void BM_BareReaddirFstatat(benchmark::State& state) {
    const std::string dir = tree().big().string();
    for (auto _ : state) {
        if (listBare(dir) != kEntries + 2)
            state.SkipWithError("listing incomplete");
    }
    state.SetItemsProcessed(state.iterations() * (kEntries + 2));
}

// Both, alternating within every iteration so that a change of load on the machine touches
// them alike; "ratio" is the layer's time over the bare loop's.
void BM_ListingOverBare(benchmark::State& state) {
    const std::wstring wide = tree().big().wstring();
    const std::string narrow = tree().big().string();
    listing::ListingEntry entry;
    double layer = 0, bare = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        listThroughLayer(wide, entry);
        auto t1 = std::chrono::steady_clock::now();
        listBare(narrow);
        auto t2 = std::chrono::steady_clock::now();
        layer += std::chrono::duration<double>(t1 - t0).count();
        bare += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["ratio"] = layer / bare;
}

std::vector<unsigned char> buffer(size_t n) {
    std::vector<unsigned char> b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    return b;
}

void BM_Md5(benchmark::State& state) {
    const auto data = buffer(1 << 20);
    uint8_t digest[16];
    for (auto _ : state) {
        Md5 md5;
        md5.update(data.data(), data.size());
        md5.finish(digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

void BM_Crc32(benchmark::State& state) {
    const auto data = buffer(1 << 20);
    for (auto _ : state) {
        Crc32 crc;
        crc.update(data.data(), data.size());
        benchmark::DoNotOptimize(crc.value());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

// All three digests of a 64 MiB file in the page cache, in the scan's 4096-byte reads.
void BM_ComputeFileDigests(benchmark::State& state) {
    const std::string path = tree().file().string();
    for (auto _ : state) {
        FileDigests d;
        d.flags = DIGEST_ALL;
        if (computeFileDigests(d, path.c_str()) != 0)
            state.SkipWithError("open failed");
        benchmark::DoNotOptimize(d);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(path)));
}

}  // namespace

BENCHMARK(BM_ListingLayer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareReaddirFstatat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListingOverBare)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Md5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComputeFileDigests)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
