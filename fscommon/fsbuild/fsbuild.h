// What the cache stores about an entry beyond its name: the mode word ATTR, the check that a
// monitored root can be scanned, and the content digests (CRC-32, CRC-32 of the first 1024
// bytes "Q32", MD5).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "listing/listing.h"

// --- mode word -------------------------------------------------------------------------------

// ATTR from the listing's attribute bits and names (the short name stands in for an empty
// long name): 0x0001 directory, 0x0092 always, 0x0124 writable, 0x0248 named *.EXE or *.COM
// (any case), 0x0400 system, 0x0800 hidden, 0x2000 neither directory nor system, 0x8000
// read-only. A plain file is 0x21B6, a plain directory 0x01B7.
uint32_t modeWord(uint32_t attributes, const wchar_t* longName, const wchar_t* shortName);
inline uint32_t modeWord(const listing::ListingEntry& entry) {
    return modeWord(entry.attributes, entry.name.c_str(), entry.shortName.c_str());
}

// --- path check ------------------------------------------------------------------------------

// True when path can be scanned: a drive root ("/" on Linux) without a look-up, otherwise an
// existing directory that is not a reparse point (junction, symbolic link, mount point of a
// file system that is not a fixed drive). A trailing separator makes no difference.
bool fs_isValidPath(const wchar_t* path);

// --- digests ---------------------------------------------------------------------------------

inline constexpr uint32_t DIGEST_CRC32 = 1;
inline constexpr uint32_t DIGEST_Q32 = 2;
inline constexpr uint32_t DIGEST_MD5 = 4;
inline constexpr uint32_t DIGEST_ALL = DIGEST_CRC32 | DIGEST_Q32 | DIGEST_MD5;

// Bytes Q32 covers.
inline constexpr size_t kQ32Length = 1024;

struct FileDigests {
    uint32_t status = 0;  // 1: the file was opened (or nothing was asked); 0: it could not be
    uint32_t flags = 0;   // DIGEST_* to compute
    uint32_t crc32 = 0;
    uint32_t q32 = 0;
    uint8_t md5[16] = {};
};

// Fills the digests that flags asks for; those not asked for get the value of empty input.
// path is in the process's multibyte code page (the ANSI code page on Windows, UTF-8 bytes on
// Linux). 0, or -1 when the file cannot be opened as a regular file: status is then 0 and the
// digest fields are left as they were. A read error ends the content as end of file does.
int computeFileDigests(FileDigests& digests, const char* path);

// path in the process's multibyte code page, as computeFileDigests takes it. False when a
// character has no exact form there (Windows; on Linux every name converts, undecodable bytes
// back to themselves).
bool toCodePagePath(std::wstring_view path, std::string& out);

// The source of the content: up to size bytes into buffer, 0 at the end or on an error.
class ContentReader {
  public:
    virtual ~ContentReader() = default;
    virtual size_t read(void* buffer, size_t size) = 0;
};

// The digests of what reader hands out, read in chunks of 4096 bytes (1024 when only Q32 is
// asked for, which stops after the first 1024 bytes). Sets neither status nor the result.
void digestContent(FileDigests& digests, ContentReader& reader);

// 32 lowercase hexadecimal digits, high nibble first.
std::wstring md5ToHex(const uint8_t digest[16]);
