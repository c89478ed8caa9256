#include "fsbuild/crc32.h"

#include <array>

namespace {

constexpr int kSlices = 8;
using Tables = std::array<std::array<uint32_t, 256>, kSlices>;

// tables[0] is the classic table; tables[k][b] is the CRC of byte b followed by k zero bytes.
constexpr Tables makeTables() {
    Tables t{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][b] = c;
    }
    for (int k = 1; k < kSlices; ++k) {
        for (uint32_t b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    }
    return t;
}

constexpr Tables kTables = makeTables();

uint32_t loadLe32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

void Crc32::update(const void* data, size_t length) {
    auto* p = static_cast<const unsigned char*>(data);
    uint32_t c = state_;
    for (; length >= 8; p += 8, length -= 8) {
        const uint32_t lo = loadLe32(p) ^ c;
        const uint32_t hi = loadLe32(p + 4);
        c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
            kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
            kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
    }
    for (; length > 0; ++p, --length)
        c = kTables[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    state_ = c;
}
