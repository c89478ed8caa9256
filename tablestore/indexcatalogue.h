// The index catalogue of a table (N "_idx.dat"): one entry per index, until the end of the file:
//   u16 marker 0x006E, u32 index name length in bytes, the index name (UTF-16LE),
//   u32 field name length in bytes, the field name (UTF-16LE).
// Entries with another marker are read over and ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint16_t INDEX_ENTRY_MARKER = 0x006E;

struct CatalogueEntry {
    std::wstring indexName;
    std::wstring fieldName;
};

// True when name can name an index file inside the table's directory: not empty, and without
// path separators, drive or stream colons or zero units.
bool isPlainIndexName(const std::wstring& name);

// Reads the catalogue at path. A missing file is an empty catalogue. False when the file is
// damaged: an entry cut short (unless only zero bytes remain, the spare room of a file whose
// writer ended before closing it), a name longer than the rest of the file, or an index name
// that is not plain. entries then holds what was read before the damage.
bool readCatalogue(const std::wstring& path, std::vector<CatalogueEntry>& entries);

// Writes a new catalogue at path with one entry per element, in order.
bool writeCatalogue(const std::wstring& path, const std::vector<CatalogueEntry>& entries);
