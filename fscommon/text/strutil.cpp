#include "text/strutil.h"

#include <ctime>

#include "system/platform.h"
#include "text/casemap.h"

namespace {

// Unit value for ordinal comparisons (wchar_t is signed on some platforms).
uint32_t unitOf(wchar_t c) {
    return static_cast<uint32_t>(c) & (sizeof(wchar_t) == 2 ? 0xFFFF : 0xFFFFFFFF);
}

bool sameChar(wchar_t a, wchar_t b, bool caseSensitive) {
    return caseSensitive ? a == b : lowerChar(a) == lowerChar(b);
}

const wchar_t* orEmpty(const wchar_t* text) {
    return text ? text : L"";
}

}  // namespace

void toUpperCopy(const wchar_t* src, wchar_t* dst) {
    if (src == nullptr || dst == nullptr)
        return;
    do {
        *dst++ = upperChar(*src);
    } while (*src++ != L'\0');
}

void toUpper(wchar_t* text) {
    toUpperCopy(text, text);
}

void toLower(wchar_t* text) {
    if (text == nullptr)
        return;
    for (; *text; ++text)
        *text = lowerChar(*text);
}

std::wstring toUpper(std::wstring text) {
    for (wchar_t& c : text)
        c = upperChar(c);
    return text;
}

int compareNoCase(const wchar_t* a, const wchar_t* b) {
    if (a == b)
        return 0;
    a = orEmpty(a);
    b = orEmpty(b);
    for (;; ++a, ++b) {
        int d = static_cast<int>(unitOf(lowerChar(*a))) - static_cast<int>(unitOf(lowerChar(*b)));
        if (d != 0 || *a == L'\0')
            return d;
    }
}

int compareNoCaseN(const wchar_t* a, const wchar_t* b, size_t n) {
    if (a == b || n == 0)
        return 0;
    a = orEmpty(a);
    b = orEmpty(b);
    for (size_t i = 0; i < n; ++i) {
        int d =
            static_cast<int>(unitOf(lowerChar(a[i]))) - static_cast<int>(unitOf(lowerChar(b[i])));
        if (d != 0 || a[i] == L'\0')
            return d;
    }
    return 0;
}

int compareText(const wchar_t* a, const wchar_t* b, bool caseSensitive) {
    if (!caseSensitive)
        return compareNoCase(a, b);
    if (a == b)
        return 0;
    a = orEmpty(a);
    b = orEmpty(b);
    for (;; ++a, ++b) {
        uint32_t x = unitOf(*a), y = unitOf(*b);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
}

void replaceChar(wchar_t* text, wchar_t from, wchar_t to) {
    if (text == nullptr)
        return;
    for (; *text; ++text) {
        if (*text == from)
            *text = to;
    }
}

const wchar_t* findCharInRange(const wchar_t* begin, const wchar_t* end, wchar_t ch) {
    if (begin == nullptr || end == nullptr)
        return nullptr;
    for (const wchar_t* p = begin; p <= end; ++p) {
        if (*p == ch)
            return p;
    }
    return nullptr;
}

bool splitAtLast(const wchar_t* text, wchar_t ch, std::wstring& head, std::wstring& tail) {
    head.clear();
    tail.clear();
    if (text == nullptr)
        return false;
    std::wstring_view view(text);
    size_t at = view.rfind(ch);
    if (at == std::wstring_view::npos)
        return false;
    head.assign(view.substr(0, at + 1));
    tail.assign(view.substr(at + 1));
    return true;
}

bool hasWildcards(const wchar_t* pattern) {
    if (pattern == nullptr)
        return false;
    for (; *pattern; ++pattern) {
        if (*pattern == L'*' || *pattern == L'?')
            return true;
    }
    return false;
}

namespace {

// The two-pointer wildcard match with back-tracking to the last star. With pathRules, a
// separator where the pattern ends, or a pattern that ends in a separator, also matches as
// matchPath describes.
bool matchStars(const wchar_t* pattern, const wchar_t* text, bool caseSensitive, bool pathRules,
                bool prefix) {
    constexpr wchar_t sep = platform::kPathSeparator;
    const wchar_t* p = orEmpty(pattern);
    const wchar_t* const start = orEmpty(text);
    const wchar_t* t = start;
    while (*t && *p != L'*') {
        if (*p == L'\0') {
            // The pattern names a directory above the path (C:\A against C:\A\B).
            return pathRules && prefix && (*t == sep || (t > start && t[-1] == sep));
        }
        if (*p != L'?' && !sameChar(*p, *t, caseSensitive))
            return false;
        ++p, ++t;
    }
    // mp is the pattern after the last star, cp the next text position to retry it at.
    const wchar_t* mp = nullptr;
    const wchar_t* cp = nullptr;
    while (*t) {
        if (*p == L'*') {
            if (!*++p)
                return true;
            mp = p;
            cp = t + 1;
        } else if (pathRules && *p == L'\0' && *t == sep && (prefix || t[1] == L'\0')) {
            return true;
        } else if (*p && (*p == L'?' || sameChar(*p, *t, caseSensitive))) {
            ++p, ++t;
        } else {
            if (mp == nullptr)
                return false;
            p = mp;
            t = cp++;
        }
    }
    bool skipped = false;
    while (*p == L'*')
        ++p, skipped = true;
    if (*p == L'\0')
        return true;
    // C:\A\ and C:\A\* also name the directory C:\A itself.
    return pathRules && !skipped && *p == sep && (p[1] == L'\0' || (p[1] == L'*' && p[2] == L'\0'));
}

}  // namespace

bool matchWildcard(const wchar_t* pattern, const wchar_t* text, bool caseSensitive) {
    return matchStars(pattern, text, caseSensitive, false, false);
}

bool matchPath(const wchar_t* pattern, const wchar_t* path, bool prefix, bool caseSensitive) {
    return matchStars(pattern, path, caseSensitive, true, prefix);
}

bool matchPathList(const wchar_t* path, const MonitoredPathList& list, bool caseSensitive,
                   bool recursiveOnly) {
    for (const MonitoredPath& entry : list) {
        if (recursiveOnly && entry.recursive != 1)
            continue;
        bool prefix = recursiveOnly ? true : entry.recursive != 0;
        if (matchPath(entry.text(), path, prefix, caseSensitive))
            return true;
    }
    return false;
}

wchar_t* toDecimal(uint32_t value, wchar_t* buffer) {
    thread_local wchar_t shared[kDecimalBufferSize];
    if (buffer == nullptr)
        buffer = shared;
    wchar_t digits[kDecimalBufferSize];
    size_t n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (size_t i = 0; i < n; ++i)
        buffer[i] = digits[n - 1 - i];
    buffer[n] = L'\0';
    return buffer;
}

int64_t parseDecimal64(const wchar_t* text) {
    if (text == nullptr)
        return 0;
    uint64_t value = 0;  // unsigned, so that values beyond INT64_MAX wrap instead of overflowing
    for (size_t i = 0; i < 23 && text[i] != L'\0'; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return 0;
        value = value * 10 + static_cast<uint64_t>(text[i] - L'0');
    }
    return static_cast<int64_t>(value);
}

int32_t hashText(const wchar_t* text, int32_t modulus) {
    uint32_t h = 0;
    const wchar_t* p = orEmpty(text);
    do {
        h = h * 37u + unitOf(*p);
    } while (*p++ != L'\0');
    if (modulus == 0)
        return 0;
    int64_t r = static_cast<int64_t>(static_cast<int32_t>(h)) % modulus;
    if (r < 0)
        r += modulus;
    return static_cast<int32_t>(r);
}

size_t encodeNumber(uint64_t value, uint8_t* buffer, size_t size) {
    if (buffer == nullptr || size < kEncodedNumberMax)
        return size;
    size_t pos = size;
    uint8_t more = 0;  // the last byte carries 0, every earlier one 1
    do {
        buffer[--pos] = static_cast<uint8_t>(((value & 0x7F) << 1) | more);
        value >>= 7;
        more = 1;
    } while (value != 0);
    return pos;
}

bool testBit(unsigned index, const uint8_t* bitmap) {
    index &= 0xFF;
    return (bitmap[index >> 3] & (0x80u >> (index & 7))) != 0;
}

void setBit(unsigned index, uint8_t* bitmap) {
    index &= 0xFF;
    bitmap[index >> 3] = static_cast<uint8_t>(bitmap[index >> 3] | (0x80u >> (index & 7)));
}

int64_t currentTime() {
    return static_cast<int64_t>(std::time(nullptr));
}
