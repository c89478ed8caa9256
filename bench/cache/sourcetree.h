// The source-like tree the cache benchmarks share: 200,000 files in 20,000 directories, made once
// and reused from a kept folder, and a helper that times a program run in a process of its own.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace sourcetree {

inline constexpr int kContainers = 10000;      // each with a "src" child: 20,000 directories
inline constexpr int kFilesPerDirectory = 10;  // 200,000 files

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Tree {
    std::filesystem::path root;
    std::wstring deepest;  // the deepest directory
    size_t deepestLevels = 0;
    std::vector<std::wstring> srcs;  // some of the "src" directories
};

// Directories of repeated names ("lib-3", "src") at depths from 1 to about 40; files of assorted
// names (extensions .c, .h, .cpp, .txt, .json or none) with sizes up to 1 MB, made sparse so
// that the tree costs no disk space. A root that holds a complete tree from an earlier run is
// reused as it is.
Tree generate(const std::filesystem::path& root);

// The DIR of a "--tree=DIR" argument ("" when there is none); every other argument goes to rest,
// for Google Benchmark.
std::string takeTreeArgument(int argc, char** argv, std::vector<char*>& rest);

// Runs the program with its output collected in output (or thrown away); the wall time in ms and
// the child's peak RSS in KiB through peakKiB; -1 when it did not end with exit code 0.
double runTimed(const std::vector<std::string>& args, std::string* output, long* peakKiB);

}  // namespace sourcetree
