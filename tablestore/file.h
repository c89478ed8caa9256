// Positioned byte input and output over one memory-mapped file. Every file of the table engine
// (data, record pointers, index catalogue, indexes) and the cache's small marker files go through
// this layer. It knows nothing of records: it reads and writes bytes at a position, moves the
// position inside the current contents and grows the file at its end.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Seek origins; they count from 1.
enum FileSeekOrigin : int32_t {
    FILE_SEEK_BEGIN = 1,
    FILE_SEEK_CURRENT = 2,
    FILE_SEEK_END = 3,
};

// Largest size a file may reach: what a 32-bit size holds. A write that would carry a file past
// it fails.
inline constexpr uint32_t kMaxFileSize = 0xFFFFFFFFu;

class File {
  public:
    virtual ~File() = default;

    // Creates the file, emptying an existing one.
    virtual bool create() = 0;
    // Opens an existing file.
    virtual bool open() = 0;
    // Opens an existing file for reading only, as a reader beside a live writer does: the
    // mapping covers exactly the file's present size, writes fail, and close neither grows nor
    // cuts back the file, so another process's mapping of it is never disturbed.
    virtual bool openReadOnly() = 0;
    virtual bool readOnly() const = 0;
    // Cuts the file back to its contents (not when read-only) and closes it; false when it was
    // not open.
    virtual bool close() = 0;
    // Copies up to length bytes from the position. A read that reaches past the end copies what
    // is there, moves the position to the end and raises the eof flag; a full read clears it.
    virtual uint32_t read(void* buffer, uint32_t length) = 0;
    // The bytes from the position to the end, in place, and their count; null when the file's
    // contents cannot be reached (not open, or the mapping was lost). Valid until the next write.
    virtual const uint8_t* peek(uint32_t& available) const = 0;
    // Writes length bytes at the position, growing the file when they reach past its end.
    // Returns length, or 0 when the file could not grow (nothing is written then).
    virtual uint32_t write(const void* buffer, uint32_t length) = 0;
    // Moves the position inside 0..size; false (position unchanged) for any other target.
    virtual bool seek(int32_t offset, int32_t origin) = 0;
    virtual uint32_t tell() const = 0;
    virtual bool eof() const = 0;
    // Size on disk, which includes the spare room of a growing file while it is open.
    virtual bool getSize(uint32_t& size) = 0;
};

// A new, not yet open file object for path; null when path is null.
std::unique_ptr<File> createFile(const wchar_t* path);

// The file object over one read/write mapping of the whole file. The file grows in steps of at
// least 32 KiB; the spare room behind the contents (zero bytes) is cut off again by close. A file
// left by a process that ended without close keeps that zero-filled room as contents.
class Win32File final : public File {
  public:
    explicit Win32File(const wchar_t* path);
    ~Win32File() override;
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    bool create() override;
    bool open() override;
    bool openReadOnly() override;
    bool readOnly() const override { return readOnly_; }
    bool close() override;
    uint32_t read(void* buffer, uint32_t length) override;
    const uint8_t* peek(uint32_t& available) const override;
    uint32_t write(const void* buffer, uint32_t length) override;
    bool seek(int32_t offset, int32_t origin) override;
    uint32_t tell() const override { return position_; }
    bool eof() const override { return eof_; }
    bool getSize(uint32_t& size) override;

  private:
    static constexpr intptr_t kNoHandle = -1;

    bool grow(uint32_t length);

    enum class OpenMode { Create, ReadWrite, ReadOnly };

    bool openExisting(OpenMode mode);

    // Platform layer: open or create the file (setting handle_ only on success), close it, set
    // its end, query its size, map the whole file of length bytes (view_, mapping_; for reading
    // only when readOnly_) and unmap it again.
    bool osOpen(OpenMode mode);
    bool osClose();
    bool osSetEnd(uint32_t size);
    bool osQuerySize(uint32_t& size);
    bool osMap(uint32_t length);
    bool osUnmap(uint32_t length);
    // Lengthens the file and its present mapping to length without unmapping it, where the
    // platform can (Linux); false leaves file and mapping as they were or merely lengthened.
    bool osExtendMapped(uint32_t oldLength, uint32_t length);

    intptr_t handle_ = kNoHandle;
    // The file-mapping object of the current view (Windows; Linux needs none).
    intptr_t mapping_ = 0;
    // Bytes that belong to the contents.
    uint32_t size_ = 0;
    // Bytes allocated on disk and mapped (at least size_).
    uint32_t capacity_ = 0;
    uint32_t position_ = 0;
    uint8_t* view_ = nullptr;
    bool eof_ = false;
    bool readOnly_ = false;
    std::optional<std::wstring> path_;
};
