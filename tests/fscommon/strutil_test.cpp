#include "text/strutil.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "nativepath.h"

using testsupport::nativePath;

TEST(Wildcard, EmptyTextAndPattern) {
    EXPECT_TRUE(matchWildcard(L"*", L"", true));
    EXPECT_TRUE(matchWildcard(L"", L"", true));
    EXPECT_FALSE(matchWildcard(L"", L"a", true));
    EXPECT_FALSE(matchWildcard(L"a?", L"a", true));
    EXPECT_TRUE(matchWildcard(L"a?", L"ab", true));
    EXPECT_TRUE(matchWildcard(L"**", L"", true));
}

TEST(Wildcard, BackTracksToTheLastStar) {
    EXPECT_TRUE(matchWildcard(L"*ab*cd", L"xabyabcd", true));
    EXPECT_TRUE(matchWildcard(L"a*b*c", L"abbbc", true));
    EXPECT_TRUE(matchWildcard(L"*aab", L"aaab", true));
    EXPECT_FALSE(matchWildcard(L"*a*b", L"aXbYa", true));
    EXPECT_FALSE(matchWildcard(L"*.txt", L"file.txt.bak", true));
    EXPECT_TRUE(matchWildcard(L"*.txt", L"file.txt.txt", true));
    EXPECT_TRUE(matchWildcard(L"*?x", L"abx", true));
    EXPECT_FALSE(matchWildcard(L"*?x", L"x", true));
}

TEST(Wildcard, CaseFolding) {
    EXPECT_TRUE(matchWildcard(L"*.TXT", L"a.txt", false));
    EXPECT_FALSE(matchWildcard(L"*.TXT", L"a.txt", true));
    EXPECT_TRUE(hasWildcards(L"a?b"));
    EXPECT_TRUE(hasWildcards(L"*"));
    EXPECT_FALSE(hasWildcards(L"abc"));
    EXPECT_FALSE(hasWildcards(nullptr));
}

TEST(MatchPath, PrefixRules) {
    const std::wstring a = nativePath(L"C:\\A");
    EXPECT_TRUE(matchPath(a.c_str(), nativePath(L"C:\\A\\B").c_str(), true, true));
    EXPECT_FALSE(matchPath(a.c_str(), nativePath(L"C:\\A\\B").c_str(), false, true));
    // A sibling that merely starts with the same letters is not below the pattern.
    EXPECT_FALSE(matchPath(a.c_str(), nativePath(L"C:\\AB").c_str(), true, true));
    EXPECT_TRUE(matchPath(a.c_str(), a.c_str(), false, true));
    // A pattern with a trailing separator (also after the previous one) names the directory.
    EXPECT_TRUE(matchPath(nativePath(L"C:\\A\\").c_str(), a.c_str(), false, true));
    EXPECT_TRUE(matchPath(nativePath(L"C:\\A\\*").c_str(), a.c_str(), false, true));
    EXPECT_FALSE(matchPath(nativePath(L"C:\\A\\*\\").c_str(), a.c_str(), false, true));
    EXPECT_TRUE(
        matchPath(nativePath(L"C:\\A\\").c_str(), nativePath(L"C:\\A\\B").c_str(), true, true));
}

TEST(MatchPath, StarsAndTrailingSeparator) {
    const std::wstring pattern = nativePath(L"C:\\*\\B");
    EXPECT_TRUE(matchPath(pattern.c_str(), nativePath(L"C:\\A\\B").c_str(), false, true));
    EXPECT_TRUE(matchPath(pattern.c_str(), nativePath(L"C:\\A\\B\\").c_str(), false, true));
    EXPECT_FALSE(matchPath(pattern.c_str(), nativePath(L"C:\\A\\B\\C").c_str(), false, true));
    EXPECT_TRUE(matchPath(pattern.c_str(), nativePath(L"C:\\A\\B\\C").c_str(), true, true));
    EXPECT_TRUE(matchPath(nativePath(L"C:\\A\\*").c_str(), nativePath(L"C:\\A\\B\\C").c_str(),
                          false, true));
    EXPECT_TRUE(
        matchPath(nativePath(L"c:\\a").c_str(), nativePath(L"C:\\A\\B").c_str(), true, false));
    EXPECT_FALSE(
        matchPath(nativePath(L"c:\\a").c_str(), nativePath(L"C:\\A\\B").c_str(), true, true));
}

TEST(MatchPath, List) {
    MonitoredPathList list;
    EXPECT_FALSE(matchPathList(nativePath(L"C:\\A").c_str(), list, true, false));
    list.emplace_back(nativePath(L"C:\\X"), 0);
    list.emplace_back(nativePath(L"C:\\Y"), 1);
    // The non-recursive entry covers only itself, and is skipped altogether with recursiveOnly.
    EXPECT_TRUE(matchPathList(nativePath(L"C:\\X").c_str(), list, true, false));
    EXPECT_FALSE(matchPathList(nativePath(L"C:\\X\\Z").c_str(), list, true, false));
    EXPECT_FALSE(matchPathList(nativePath(L"C:\\X").c_str(), list, true, true));
    EXPECT_TRUE(matchPathList(nativePath(L"C:\\Y\\Z").c_str(), list, true, true));
    EXPECT_TRUE(matchPathList(nativePath(L"C:\\Y\\Z").c_str(), list, true, false));
}

TEST(Compare, NoCaseOrdering) {
    EXPECT_LT(compareNoCase(L"ABC", L"abd"), 0);
    EXPECT_GT(compareNoCase(L"abd", L"ABC"), 0);
    EXPECT_EQ(compareNoCase(L"abc", L"ABC"), 0);
    EXPECT_LT(compareNoCase(L"ab", L"abc"), 0);
    const wchar_t* same = L"x";
    EXPECT_EQ(compareNoCase(same, same), 0);
    EXPECT_EQ(compareNoCaseN(L"abcX", L"ABCy", 3), 0);
    EXPECT_NE(compareNoCaseN(L"abcX", L"ABCy", 4), 0);
    EXPECT_EQ(compareNoCaseN(L"a", L"b", 0), 0);
    EXPECT_EQ(compareNoCaseN(L"ab", L"AB", 10), 0);
    EXPECT_LT(compareText(L"ABC", L"abc", true), 0);
    EXPECT_EQ(compareText(L"ABC", L"abc", false), 0);
    // Ordinal comparison treats units as unsigned values.
    EXPECT_LT(compareText(L"a", L"\u00e9", true), 0);
}

TEST(Text, CaseAndReplace) {
    wchar_t text[] = L"c:\\data\\mon";
    toUpper(text);
    EXPECT_STREQ(text, L"C:\\DATA\\MON");
    replaceChar(text, L'\\', L'_');
    EXPECT_STREQ(text, L"C:_DATA_MON");
    toLower(text);
    EXPECT_STREQ(text, L"c:_data_mon");
    wchar_t copy[16];
    toUpperCopy(L"ab1", copy);
    EXPECT_STREQ(copy, L"AB1");
    replaceChar(nullptr, L'a', L'b');  // no effect, no crash
}

#if !defined(_WIN32)
// Case folding feeds index keys and object names, which one process writes and another reads:
// on Linux it must give the same answer in every locale, accented and non-Latin letters
// included.
TEST(Text, CaseMappingIgnoresTheLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char* locale : {"C", "C.UTF-8", "POSIX"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr)
            continue;
        SCOPED_TRACE(locale);
        EXPECT_EQ(
            toUpper(std::wstring(L"\u00e9t\u00e9 \u00ff \u03b1\u03c9 \u0436 \u0131 \U00010428")),
            L"\u00c9T\u00c9 \u0178 \u0391\u03a9 \u0416 I \U00010400");
        EXPECT_EQ(compareNoCase(L"\u00c9T\u00c9.TXT", L"\u00e9t\u00e9.txt"), 0);
        EXPECT_TRUE(matchWildcard(L"*\u00c9.TXT", L"\u00e9t\u00e9.txt", false));
        EXPECT_EQ(hashText(toUpper(std::wstring(L"\u00e9t\u00e9")).c_str(), 65536),
                  hashText(L"\u00c9T\u00c9", 65536));
    }
    std::setlocale(LC_ALL, saved.c_str());
}
#endif

TEST(Text, SplitAtLastAndFindInRange) {
    std::wstring head, tail;
    ASSERT_TRUE(splitAtLast(L"C:\\dir\\file", L'\\', head, tail));
    EXPECT_EQ(head, L"C:\\dir\\");
    EXPECT_EQ(tail, L"file");
    EXPECT_FALSE(splitAtLast(L"nothing", L'\\', head, tail));
    EXPECT_TRUE(head.empty() && tail.empty());
    const wchar_t* s = L"abcabc";
    EXPECT_EQ(findCharInRange(s, s + 5, L'c'), s + 2);
    EXPECT_EQ(findCharInRange(s + 3, s + 5, L'c'), s + 5);  // the end is included
    EXPECT_EQ(findCharInRange(s + 3, s + 4, L'c'), nullptr);
    EXPECT_EQ(findCharInRange(s + 4, s + 3, L'a'), nullptr);
}

TEST(Numbers, Decimal) {
    wchar_t buf[kDecimalBufferSize];
    EXPECT_STREQ(toDecimal(0, buf), L"0");
    EXPECT_STREQ(toDecimal(4294967295u, buf), L"4294967295");
    EXPECT_STREQ(toDecimal(1200, nullptr), L"1200");
    EXPECT_EQ(parseDecimal64(L"12a"), 0);
    EXPECT_EQ(parseDecimal64(L""), 0);
    EXPECT_EQ(parseDecimal64(L"-5"), 0);
    EXPECT_EQ(parseDecimal64(L"9223372036854775807"), INT64_MAX);
    // Beyond the signed range the value wraps modulo 2^64.
    EXPECT_EQ(parseDecimal64(L"18446744073709551617"), 1);
    // Only the first 23 characters are looked at.
    EXPECT_EQ(parseDecimal64(L"00000000000000000000042x"), 42);
}

TEST(Numbers, HashIncludesTheTerminator) {
    EXPECT_EQ(hashText(L"", 65536), 0);
    EXPECT_EQ(hashText(L"0", 65536), 1776);  // 0x30 * 37
    EXPECT_EQ(hashText(L"ab", 1000000), (97 * 37 + 98) * 37 % 1000000);
    // A long text whose 32-bit hash is negative when read as signed.
    const wchar_t* text = L"zzzzzzzzzzzz";
    uint32_t h = 0;
    for (const wchar_t* p = text;; ++p) {
        h = h * 37u + static_cast<uint32_t>(*p);
        if (*p == 0)
            break;
    }
    ASSERT_LT(static_cast<int32_t>(h), 0);
    EXPECT_EQ(hashText(text, 65536), static_cast<int32_t>(h & 0xFFFF));
    int32_t r = static_cast<int32_t>(h) % 7;
    EXPECT_EQ(hashText(text, 7), r < 0 ? r + 7 : r);
}

TEST(Numbers, EncodeNumber) {
    uint8_t buf[16];
    size_t at = encodeNumber(300, buf, sizeof buf);
    ASSERT_EQ(at, sizeof buf - 2);
    EXPECT_EQ(buf[14], 0x05);
    EXPECT_EQ(buf[15], 0x58);
    at = encodeNumber(0, buf, sizeof buf);
    ASSERT_EQ(at, sizeof buf - 1);
    EXPECT_EQ(buf[15], 0x00);
    at = encodeNumber(128, buf, sizeof buf);
    ASSERT_EQ(at, 14u);
    EXPECT_EQ(buf[14], 0x03);
    EXPECT_EQ(buf[15], 0x00);
    at = encodeNumber(0xFFFFFFFFu, buf, sizeof buf);
    ASSERT_EQ(at, 11u);
    const uint8_t expected[] = {0x1F, 0xFF, 0xFF, 0xFF, 0xFE};
    EXPECT_EQ(0, std::memcmp(buf + 11, expected, 5));
    at = encodeNumber(UINT64_MAX, buf, sizeof buf);
    EXPECT_EQ(at, sizeof buf - kEncodedNumberMax);
    EXPECT_EQ(buf[6], 0x03);  // the top group holds the single remaining bit
    uint8_t small[4];
    EXPECT_EQ(encodeNumber(5, small, sizeof small), sizeof small);
}

TEST(Numbers, Bits) {
    uint8_t map[32] = {};
    setBit(0, map);
    setBit(9, map);
    EXPECT_EQ(map[0], 0x80);
    EXPECT_EQ(map[1], 0x40);
    EXPECT_TRUE(testBit(9, map));
    EXPECT_FALSE(testBit(8, map));
    setBit(256 + 3, map);  // only the low 8 bits count
    EXPECT_EQ(map[0], 0x90);
    EXPECT_TRUE(testBit(3, map));
}

TEST(Text, ToWide) {
    EXPECT_EQ(toWide("start"), L"start");
    EXPECT_EQ(toWide(nullptr), L"");
    EXPECT_GT(currentTime(), 1700000000);
}
