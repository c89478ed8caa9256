// A plain, unmapped operating-system file handle for small whole-file writes and appends (the
// process-ID file, the log) and for sequential reads (configuration, event files). The table
// engine has its own mapped files.
#pragma once

#include <cstddef>
#include <cstdint>

class OsFile {
  public:
    OsFile() = default;
    ~OsFile() { close(); }
    OsFile(OsFile&& other) noexcept : handle_(other.handle_), owned_(other.owned_) {
        other.handle_ = kInvalid;
    }
    OsFile& operator=(OsFile&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            owned_ = other.owned_;
            other.handle_ = kInvalid;
        }
        return *this;
    }
    OsFile(const OsFile&) = delete;
    OsFile& operator=(const OsFile&) = delete;

    // Creates the file or empties an existing one, for writing.
    static OsFile createAlways(const wchar_t* path);
    // Opens the file for appending, creating it when missing.
    static OsFile openAppend(const wchar_t* path);
    // Opens an existing file for reading (the platform error stays in sysinfo::lastError()).
    static OsFile openRead(const wchar_t* path);
    // The process's standard error (not closed by this object).
    static OsFile standardError();

    bool valid() const { return handle_ != kInvalid; }
    // Writes all bytes (at the end of the file when opened for appending).
    bool write(const void* data, size_t length);
    // Reads up to length bytes at the current position: the count (0 at the end of the file),
    // or -1 on failure.
    long long read(void* buffer, size_t length);
    bool close();

  private:
    static constexpr intptr_t kInvalid = -1;
    OsFile(intptr_t handle, bool owned) : handle_(handle), owned_(owned) {}

    intptr_t handle_ = kInvalid;
    bool owned_ = true;
};
