#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>

TEST(Utf8, InvalidBytesRoundTripExactly) {
    // Stray continuation, truncated sequence, overlong form, encoded surrogate, bytes FE FF.
    const std::string bytes(
        "a\x80"
        "b\xC3"
        "c\xC0\xAF"
        "d\xED\xA0\x80"
        "e\xFE\xFF",
        14);
    const std::wstring wide = utf8::toWide(bytes);
    EXPECT_EQ(wide[1], static_cast<wchar_t>(0xDC80));
    EXPECT_EQ(wide[3], static_cast<wchar_t>(0xDCC3));
    EXPECT_EQ(utf8::fromWide(wide), bytes);
}

TEST(Utf8, ValidTextDecodes) {
    EXPECT_EQ(utf8::toWide("caf\xC3\xA9"), L"caf\u00e9");
    EXPECT_EQ(utf8::fromWide(L"caf\u00e9"), "caf\xC3\xA9");
    // A character beyond the 16-bit range: one code point on Linux, a surrogate pair on Windows.
    const std::wstring clef = utf8::toWide("\xF0\x9D\x84\x9E");
    EXPECT_EQ(clef.size(), sizeof(wchar_t) == 2 ? 2u : 1u);
    EXPECT_EQ(utf8::fromWide(clef), "\xF0\x9D\x84\x9E");
}

TEST(Utf8, EveryByteValueRoundTrips) {
    std::string all;
    for (int i = 1; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    EXPECT_EQ(utf8::fromWide(utf8::toWide(all)), all);
}

TEST(Utf8, UnitCodec) {
    char buf[utf8::kMaxUnitBytes];
    ASSERT_EQ(utf8::encodeUnit(0xE9, buf), 2u);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xC3);
    EXPECT_EQ(static_cast<unsigned char>(buf[1]), 0xA9);
    // Surrogate halves are written by themselves, three bytes each, and read back the same.
    ASSERT_EQ(utf8::encodeUnit(0xD834, buf), 3u);
    uint32_t unit = 0;
    auto* p = reinterpret_cast<const unsigned char*>(buf);
    EXPECT_EQ(utf8::decodeUnit(p, p + 3, &unit), 3u);
    EXPECT_EQ(unit, 0xD834u);
    for (uint32_t u : {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
        size_t n = utf8::encodeUnit(u, buf);
        EXPECT_EQ(utf8::decodeUnit(p, p + n, &unit), n);
        EXPECT_EQ(unit, u);
    }
    // A truncated sequence never reads past the end.
    EXPECT_EQ(utf8::decodeUnit(p, p + 1, &unit), 1u);
}
