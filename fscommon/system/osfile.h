// A plain, unmapped operating-system file handle for small whole-file writes and appends (the
// process-ID file, the log) and for sequential reads (configuration, event files). The table
// engine has its own mapped files.
//
// These files lie in directories that other users may be able to write to, so nothing here
// writes through what someone else put in their place: a symbolic link (reparse point) is never
// followed, only regular files are written, opening never blocks (a FIFO), and an existing file
// is never truncated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Why a file could not be used.
enum class FileProblem {
    None,
    Link,         // a symbolic link or reparse point stands at the path
    NotRegular,   // a directory, FIFO, device or socket, or a file with further hard links
    SystemError,  // the platform call failed: sysinfo::lastError() tells why
};

// Words for a problem, for messages ("a symbolic link", "not a regular file", the system text).
std::string describeFileProblem(FileProblem problem, uint32_t systemError);

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

    // Opens a regular file for appending, creating it when missing. Anything else at the path is
    // refused and left alone; the reason goes to *problem when given.
    static OsFile openAppend(const wchar_t* path, FileProblem* problem = nullptr);
    // Puts a new file with exactly these bytes at path: written beside it under a fresh name and
    // renamed over it, so an existing file is replaced, never truncated or written through.
    // Anything but a regular file at path is refused and left alone.
    static FileProblem replaceWhole(const wchar_t* path, const void* data, size_t length);
    // Opens an existing regular file for reading, without blocking on anything else (the
    // platform error stays in sysinfo::lastError()).
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
