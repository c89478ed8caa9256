#include "text/utf8.h"

namespace utf8 {

namespace {

constexpr uint32_t kEscapeBase = 0xDC00;

bool isEscapedByte(uint32_t unit) {
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

// Length of the strictly valid UTF-8 sequence at p (no overlong forms, no surrogates, nothing
// above U+10FFFF), or 0 when the bytes there are not one.
size_t validSequence(const unsigned char* p, const unsigned char* end, uint32_t* cp) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    }
    size_t len;
    uint32_t min;
    uint32_t value;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, min = 0x80, value = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, min = 0x800, value = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, value = b0 & 0x07;
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < len)
        return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return len;
}

void appendCodePoint(std::wstring& out, uint32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(cp));
}

}  // namespace

size_t encodeUnit(uint32_t unit, char* out) {
    auto* o = reinterpret_cast<unsigned char*>(out);
    if (unit < 0x80) {
        o[0] = static_cast<unsigned char>(unit);
        return 1;
    }
    size_t len = unit < 0x800       ? 2
                 : unit < 0x10000   ? 3
                 : unit < 0x200000  ? 4
                 : unit < 0x4000000 ? 5
                                    : 6;
    static constexpr unsigned char kLead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    for (size_t i = len - 1; i > 0; --i) {
        o[i] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        unit >>= 6;
    }
    o[0] = static_cast<unsigned char>(kLead[len] | unit);
    return len;
}

size_t decodeUnit(const unsigned char* p, const unsigned char* end, uint32_t* unit) {
    const unsigned char b0 = p[0];
    size_t len = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : b0 < 0xF8 ? 4 : b0 < 0xFC ? 5 : 6;
    if (b0 >= 0x80 && b0 < 0xC0)
        len = 1;  // a stray continuation byte stands for itself
    if (static_cast<size_t>(end - p) < len)
        len = static_cast<size_t>(end - p);
    static constexpr unsigned char kMask[7] = {0, 0x7F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
    uint32_t value = b0 & (len == 1 && b0 >= 0x80 ? 0xFF : kMask[len]);
    for (size_t i = 1; i < len; ++i)
        value = (value << 6) | (p[i] & 0x3F);
    *unit = value;
    return len;
}

std::string fromWide(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    char buf[kMaxUnitBytes];
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t unit = static_cast<uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            // UTF-16: a valid pair is one code point; a lone half is written by itself.
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
                uint32_t low = static_cast<uint16_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        } else {
            unit &= 0x7FFFFFFF;
        }
        if (isEscapedByte(unit)) {
            out.push_back(static_cast<char>(unit - kEscapeBase));
            continue;
        }
        out.append(buf, encodeUnit(unit, buf));
    }
    return out;
}

std::wstring toWide(std::string_view bytes) {
    std::wstring out;
    toWide(bytes, out);
    return out;
}

void toWide(std::string_view bytes, std::wstring& out) {
    out.clear();
    out.reserve(bytes.size());
    auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    auto* end = p + bytes.size();
    while (p < end) {
        uint32_t cp;
        size_t len = validSequence(p, end, &cp);
        if (len == 0) {
            out.push_back(static_cast<wchar_t>(kEscapeBase + *p));
            ++p;
            continue;
        }
        appendCodePoint(out, cp);
        p += len;
    }
}

}  // namespace utf8
