#include "fuzzsupport.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "fuzzentry.h"
#include "system/sysinfo.h"
#include "text/utf8.h"

namespace fs = std::filesystem;

namespace fuzz {

namespace {

std::vector<Entry>& registry() {
    static std::vector<Entry> list;
    return list;
}

}  // namespace

bool registerEntry(const char* name, EntryFunction run) {
    registry().push_back({name, run});
    return true;
}

const std::vector<Entry>& entries() {
    return registry();
}

const Entry* findEntry(std::string_view name) {
    for (const Entry& entry : registry()) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

void prepareProcess() {
    // vigil takes the locale of its environment; a fixed UTF-8 locale makes the case mapping
    // that of a typical Linux system and the same for every run.
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr)
        std::setlocale(LC_ALL, "");
}

void checkFailed(const char* file, int line, const char* condition) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

uint8_t ByteReader::byte() {
    return position_ < size_ ? static_cast<uint8_t>(data_[position_++]) : 0;
}

uint16_t ByteReader::u16() {
    const uint16_t low = byte();
    return static_cast<uint16_t>(low | byte() << 8);
}

uint32_t ByteReader::u32() {
    const uint32_t low = u16();
    return low | static_cast<uint32_t>(u16()) << 16;
}

uint64_t ByteReader::u64() {
    const uint64_t low = u32();
    return low | static_cast<uint64_t>(u32()) << 32;
}

std::string_view ByteReader::line() {
    return until("\n");
}

std::string_view ByteReader::until(std::string_view separator) {
    const std::string_view rest(data_ + position_, size_ - position_);
    const size_t at = rest.find(separator);
    if (at == std::string_view::npos) {
        position_ = size_;
        return rest;
    }
    position_ += at + separator.size();
    return rest.substr(0, at);
}

std::string_view ByteReader::take(size_t count) {
    count = std::min(count, remaining());
    const std::string_view out(data_ + position_, count);
    position_ += count;
    return out;
}

std::wstring wideText(std::string_view bytes) {
    return utf8::toWide(bytes);
}

ScratchDirectory& ScratchDirectory::instance() {
    static ScratchDirectory directory;
    return directory;
}

ScratchDirectory::ScratchDirectory() {
    std::error_code ec;
    fs::path base = "/dev/shm";
    if (!fs::is_directory(base, ec))
        base = fs::temp_directory_path();
    path_ = base / ("vigil-fuzz-" + std::to_string(sysinfo::currentProcessId()));
}

void ScratchDirectory::begin() {
    end();
    fs::create_directories(path_);
}

void ScratchDirectory::end() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void ScratchDirectory::write(const std::wstring& name, std::string_view bytes) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace fuzz
