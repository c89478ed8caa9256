#include "utf16le.h"

namespace utf16le {

namespace {

void putUnit(std::vector<uint8_t>& out, uint32_t unit) {
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
}

}  // namespace

std::vector<uint8_t> encode(const std::wstring& text) {
    std::vector<uint8_t> out;
    out.reserve(2 * text.size());
    for (wchar_t c : text) {
        uint32_t unit = static_cast<uint32_t>(c);
        if constexpr (sizeof(wchar_t) > 2) {
            if (unit >= 0x10000 && unit <= 0x10FFFF) {
                unit -= 0x10000;
                putUnit(out, 0xD800 + (unit >> 10));
                putUnit(out, 0xDC00 + (unit & 0x3FF));
                continue;
            }
        }
        putUnit(out, unit);
    }
    return out;
}

std::wstring decode(const uint8_t* bytes, size_t length) {
    std::wstring out;
    out.reserve(length / 2);
    for (size_t i = 0; i + 1 < length; i += 2) {
        uint32_t unit = bytes[i] | static_cast<uint32_t>(bytes[i + 1]) << 8;
        if constexpr (sizeof(wchar_t) > 2) {
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < length) {
                const uint32_t low = bytes[i + 2] | static_cast<uint32_t>(bytes[i + 3]) << 8;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
        }
        out.push_back(static_cast<wchar_t>(unit));
    }
    return out;
}

}  // namespace utf16le
