// Little-endian numbers, UTF-16LE names and absolute positions on top of File. Every read here
// reports a short read as failure, so that a damaged file fails where it is read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file.h"

namespace fileio {

// Moves to an absolute offset, also beyond 2 GiB (seek takes a signed 32-bit offset).
bool seekTo(File& file, uint64_t offset);
// Size of the contents. Leaves the position at the end.
uint32_t contentSize(File& file);

// Reads exactly length bytes.
bool readExact(File& file, void* buffer, uint32_t length);
bool writeExact(File& file, const void* buffer, uint32_t length);
bool readU16(File& file, uint16_t& value);
bool readU32(File& file, uint32_t& value);
bool writeU32(File& file, uint32_t value);

void putU16(std::vector<uint8_t>& out, uint16_t value);
void putU32(std::vector<uint8_t>& out, uint32_t value);
uint32_t getU32(const uint8_t* bytes);
void storeU32(uint8_t* bytes, uint32_t value);

// A name stored as its byte length (u32) and its UTF-16LE units, without terminator.
void putName(std::vector<uint8_t>& out, const std::wstring& name);
// Reads a stored name; false when its length is odd or reaches past the end of the file.
bool readName(File& file, std::wstring& name);

}  // namespace fileio
