// The benchmarks' tree: source-like, 200,000 files in 20,000 directories. Directories of
// repeated names ("lib-3", "src") at depths from 1 to about 40; files of assorted names with
// sizes up to 1 MB, made sparse so that the tree costs no disk space. The same seed makes the
// same tree every time; a tree already complete at root (marker ".complete") is reused.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace benchtree {

inline constexpr int kContainers = 10000;      // each with a "src" child: 20,000 directories
inline constexpr int kFilesPerDirectory = 10;  // 200,000 files

struct Tree {
    std::filesystem::path root;
    std::wstring deepest;  // the deepest directory
    size_t deepestLevels = 0;
    std::vector<std::wstring> srcs;  // some of the "src" directories
};

Tree generate(const std::filesystem::path& root);

}  // namespace benchtree
