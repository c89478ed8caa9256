#include "indexcatalogue.h"

#include <algorithm>

#include "file.h"
#include "fileio.h"

namespace {

// True when every byte from the position to the end of the file is zero.
bool onlyZerosRemain(File& file) {
    uint8_t chunk[4096];
    for (;;) {
        const uint32_t count = file.read(chunk, sizeof chunk);
        if (std::any_of(chunk, chunk + count, [](uint8_t b) { return b != 0; }))
            return false;
        if (count < sizeof chunk)
            return true;
    }
}

}  // namespace

bool isPlainIndexName(const std::wstring& name) {
    return !name.empty() && name.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos;
}

bool readCatalogue(const std::wstring& path, std::vector<CatalogueEntry>& entries) {
    entries.clear();
    auto file = createFile(path.c_str());
    if (!file->openReadOnly())
        return true;
    const uint32_t size = fileio::contentSize(*file);
    file->seek(0, FILE_SEEK_BEGIN);
    while (file->tell() < size) {
        const uint32_t start = file->tell();
        uint16_t marker = 0;
        CatalogueEntry entry;
        if (!fileio::readU16(*file, marker) || !fileio::readName(*file, entry.indexName) ||
            !fileio::readName(*file, entry.fieldName)) {
            return fileio::seekTo(*file, start) && onlyZerosRemain(*file);
        }
        if (marker != INDEX_ENTRY_MARKER)
            continue;
        if (!isPlainIndexName(entry.indexName))
            return false;
        entries.push_back(std::move(entry));
    }
    return true;
}

bool writeCatalogue(const std::wstring& path, const std::vector<CatalogueEntry>& entries) {
    std::vector<uint8_t> bytes;
    for (const CatalogueEntry& entry : entries) {
        fileio::putU16(bytes, INDEX_ENTRY_MARKER);
        fileio::putName(bytes, entry.indexName);
        fileio::putName(bytes, entry.fieldName);
    }
    auto file = createFile(path.c_str());
    if (!file->create())
        return false;
    const bool written =
        fileio::writeExact(*file, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return file->close() && written;
}
