// Names in table headers and in the index catalogue are stored as UTF-16LE. Where wchar_t holds
// UTF-16 the units are stored as they are; where it holds code points, those above U+FFFF become
// surrogate pairs and pairs read back become one code point again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace utf16le {

std::vector<uint8_t> encode(const std::wstring& text);
// Decodes length bytes (an even count).
std::wstring decode(const uint8_t* bytes, size_t length);

}  // namespace utf16le
