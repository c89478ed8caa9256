#include "fileio.h"

#include <climits>

#include "utf16le.h"

namespace fileio {

bool seekTo(File& file, uint64_t offset) {
    if (offset <= INT32_MAX)
        return file.seek(static_cast<int32_t>(offset), FILE_SEEK_BEGIN);
    if (offset > kMaxFileSize)
        return false;
    return file.seek(INT32_MAX, FILE_SEEK_BEGIN) &&
           file.seek(static_cast<int32_t>(offset - INT32_MAX), FILE_SEEK_CURRENT);
}

uint32_t contentSize(File& file) {
    file.seek(0, FILE_SEEK_END);
    return file.tell();
}

bool readExact(File& file, void* buffer, uint32_t length) {
    return file.read(buffer, length) == length;
}

bool writeExact(File& file, const void* buffer, uint32_t length) {
    return length == 0 || file.write(buffer, length) == length;
}

bool readU16(File& file, uint16_t& value) {
    uint8_t bytes[2];
    if (!readExact(file, bytes, sizeof bytes))
        return false;
    value = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    return true;
}

bool readU32(File& file, uint32_t& value) {
    uint8_t bytes[4];
    if (!readExact(file, bytes, sizeof bytes))
        return false;
    value = getU32(bytes);
    return true;
}

bool writeU32(File& file, uint32_t value) {
    uint8_t bytes[4];
    storeU32(bytes, value);
    return writeExact(file, bytes, sizeof bytes);
}

void putU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    storeU32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

uint32_t getU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void storeU32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

void putName(std::vector<uint8_t>& out, const std::wstring& name) {
    const std::vector<uint8_t> units = utf16le::encode(name);
    putU32(out, static_cast<uint32_t>(units.size()));
    out.insert(out.end(), units.begin(), units.end());
}

bool readName(File& file, std::wstring& name) {
    uint32_t length = 0;
    if (!readU32(file, length) || length % 2 != 0)
        return false;
    const uint32_t position = file.tell();
    if (length > contentSize(file) - position || !seekTo(file, position))
        return false;
    std::vector<uint8_t> units(length);
    if (!readExact(file, units.data(), length))
        return false;
    name = utf16le::decode(units.data(), units.size());
    return true;
}

}  // namespace fileio
