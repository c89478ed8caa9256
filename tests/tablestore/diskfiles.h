// Helpers of the table engine tests for looking at and tampering with files on disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "testsupport.h"

namespace tabletest {

inline std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

// Little-endian u32 at offset of a byte vector.
inline uint32_t u32At(const std::vector<uint8_t>& data, size_t offset) {
    return static_cast<uint32_t>(data.at(offset)) |
           static_cast<uint32_t>(data.at(offset + 1)) << 8 |
           static_cast<uint32_t>(data.at(offset + 2)) << 16 |
           static_cast<uint32_t>(data.at(offset + 3)) << 24;
}

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& data);
// Overwrites bytes at offset of an existing file.
void patchBytes(const std::filesystem::path& path, uint64_t offset,
                const std::vector<uint8_t>& data);
void patchU32(const std::filesystem::path& path, uint64_t offset, uint32_t value);
// Cuts a file to size bytes or lengthens it with zero bytes (sparse where the file system can).
void resizeFile(const std::filesystem::path& path, uint64_t size);
// Lengthens a file with zero bytes up to the next multiple of 32768, as a file looks that was
// left open by a process that ended.
void addSlack(const std::filesystem::path& path);

}  // namespace tabletest
