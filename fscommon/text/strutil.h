// Wide-text helpers shared by the whole system: case, comparison, wildcards, numbers, the text
// hash of the indexes, the compact number encoding, bit maps and command-line conversion.
// Text arguments may be null where noted; created text is returned by value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "text/monitoredpath.h"

// --- case and comparison ---------------------------------------------------------------------

// Writes the upper-cased src, terminator included, to dst (which may be src).
void toUpperCopy(const wchar_t* src, wchar_t* dst);
void toUpper(wchar_t* text);
void toLower(wchar_t* text);
std::wstring toUpper(std::wstring text);
// Difference of the first unequal lower-cased pair (only sign and zero count). Null is empty.
int compareNoCase(const wchar_t* a, const wchar_t* b);
int compareNoCaseN(const wchar_t* a, const wchar_t* b, size_t n);
// Ordinal comparison of the unit values, or compareNoCase.
int compareText(const wchar_t* a, const wchar_t* b, bool caseSensitive);
void replaceChar(wchar_t* text, wchar_t from, wchar_t to);
// First ch in [begin, end] (end included), or null.
const wchar_t* findCharInRange(const wchar_t* begin, const wchar_t* end, wchar_t ch);
// Splits at the last ch: head keeps ch (C:\dir\ and file). False, outputs empty, when the text
// is null or has no ch.
bool splitAtLast(const wchar_t* text, wchar_t ch, std::wstring& head, std::wstring& tail);

// --- wildcards: '*' any run (also empty), '?' exactly one character, no escape ---------------

bool hasWildcards(const wchar_t* pattern);
bool matchWildcard(const wchar_t* pattern, const wchar_t* text, bool caseSensitive);
// Path-aware match: with prefix, a pattern also matches the paths below it.
bool matchPath(const wchar_t* pattern, const wchar_t* path, bool prefix, bool caseSensitive);
bool matchPathList(const wchar_t* path, const MonitoredPathList& list, bool caseSensitive,
                   bool recursiveOnly);

// --- numbers, hashing, bits, time ------------------------------------------------------------

// Room toDecimal needs: ten digits and the terminator.
inline constexpr size_t kDecimalBufferSize = 11;
// Writes value in decimal into buffer (kDecimalBufferSize units), or into a buffer of the
// calling thread when buffer is null, and returns that buffer.
wchar_t* toDecimal(uint32_t value, wchar_t* buffer);
// 0 unless every one of the first 23 characters (at most) is a digit; the value wraps modulo
// 2^64 when it is beyond the signed 64-bit range.
int64_t parseDecimal64(const wchar_t* text);
// h = h * 37 + unit over the text and its terminator; the non-negative remainder by modulus.
int32_t hashText(const wchar_t* text, int32_t modulus);

// Longest output of encodeNumber.
inline constexpr size_t kEncodedNumberMax = 10;
// Writes value as 7-bit groups, most significant first, each byte (group << 1) | more, into
// the end of buffer[0..size) and returns the offset of the first byte. size must be at least
// kEncodedNumberMax; a smaller buffer gets nothing and the result is size.
size_t encodeNumber(uint64_t value, uint8_t* buffer, size_t size);

// 256-bit maps, most significant bit first; only the low 8 bits of index count.
bool testBit(unsigned index, const uint8_t* bitmap);
void setBit(unsigned index, uint8_t* bitmap);

// Calendar time in seconds.
int64_t currentTime();
// Deletes a file; 0 on success.
int removeFile(const wchar_t* path);

// Command-line text to wide text (Windows: the runtime's conversion under the process locale;
// Linux: UTF-8 with the lossless byte escape). Null gives the empty text.
std::wstring toWide(const char* narrow);
