#include "diskfiles.h"

#include <fstream>

namespace tabletest {

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

void patchBytes(const std::filesystem::path& path, uint64_t offset,
                const std::vector<uint8_t>& data) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

void patchU32(const std::filesystem::path& path, uint64_t offset, uint32_t value) {
    patchBytes(path, offset,
               bytes({static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                      static_cast<int>((value >> 16) & 0xFF), static_cast<int>(value >> 24)}));
}

void resizeFile(const std::filesystem::path& path, uint64_t size) {
    std::filesystem::resize_file(path, size);
}

void addSlack(const std::filesystem::path& path) {
    const uint64_t size = std::filesystem::file_size(path);
    resizeFile(path, (size / 32768 + 1) * 32768);
}

}  // namespace tabletest
