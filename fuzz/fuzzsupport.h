// What the fuzz entries share: reading structured values out of the input bytes, and a scratch
// directory for entries that work on files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace fuzz {

// Reads values from the front of the input. Past the end every read gives zeros or empty text,
// so an entry never has to check for a short input.
class ByteReader {
  public:
    ByteReader(const uint8_t* data, size_t size)
        : data_(reinterpret_cast<const char*>(data)), size_(size) {}
    explicit ByteReader(std::string_view bytes) : data_(bytes.data()), size_(bytes.size()) {}

    size_t remaining() const { return size_ - position_; }
    uint8_t byte();
    // Little-endian; missing bytes are zero.
    uint16_t u16();
    uint32_t u32();
    uint64_t u64();
    // The bytes up to the next line feed (which is consumed), or up to the end.
    std::string_view line();
    // The bytes up to the next occurrence of separator (which is consumed), or up to the end.
    std::string_view until(std::string_view separator);
    // Up to count bytes.
    std::string_view take(size_t count);
    // A length byte and that many bytes.
    std::string_view shortText() { return take(byte()); }
    std::string_view rest() { return take(remaining()); }

  private:
    const char* data_;
    size_t size_;
    size_t position_ = 0;
};

// Input bytes as wide text, the way text from the command line or a file name arrives: UTF-8,
// and every byte that is not part of valid UTF-8 as a unit of its own.
std::wstring wideText(std::string_view bytes);

// A directory of this process for the files of one entry run, on a memory file system where
// there is one (/dev/shm). It exists from begin to end of a run only, so that nothing stays
// behind a process however it ends, unless a run breaks off (the files then show what it did).
class ScratchDirectory {
  public:
    static ScratchDirectory& instance();
    ~ScratchDirectory() { end(); }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::wstring wide() const { return path_.wstring(); }
    // Makes the directory anew, empty.
    void begin();
    // Removes the directory with everything in it.
    void end();
    // Writes bytes to the file name in the directory.
    void write(const std::wstring& name, std::string_view bytes) const;

  private:
    ScratchDirectory();
    std::filesystem::path path_;
};

}  // namespace fuzz
