// UTF-8 conversions. Text that crosses to the operating system is converted losslessly: a byte
// that does not belong to a valid UTF-8 sequence becomes the unit U+DC00 + byte (U+DC80..U+DCFF)
// and goes back to that same byte, so every file name round-trips exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace utf8 {

// Longest form encodeUnit writes.
inline constexpr size_t kMaxUnitBytes = 6;

// Encodes one wide unit by itself in the classic UTF-8 form (1 byte below 0x80, 2 below 0x800,
// 3 below 0x10000, then 4 to 6), surrogates included. Returns the byte count.
size_t encodeUnit(uint32_t unit, char* out);

// Decodes one unit written by encodeUnit from [p, end); stores the value and returns the number
// of bytes taken (at least 1 while p < end). Continuation bytes are not validated.
size_t decodeUnit(const unsigned char* p, const unsigned char* end, uint32_t* unit);

// Wide text to UTF-8 for the operating system or the log.
std::string fromWide(std::wstring_view text);
// UTF-8 (or any bytes) to wide text; invalid bytes map to U+DC80..U+DCFF.
std::wstring toWide(std::string_view bytes);
// The same into out, replacing its content and reusing its storage.
void toWide(std::string_view bytes, std::wstring& out);

}  // namespace utf8
