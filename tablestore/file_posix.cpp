#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file.h"
#include "text/utf8.h"

namespace {

int fdOf(intptr_t value) {
    return static_cast<int>(value);
}

}  // namespace

bool Win32File::osOpen(OpenMode mode) {
    int flags = O_CLOEXEC;
    if (mode == OpenMode::ReadOnly)
        flags |= O_RDONLY;
    else
        flags |= O_RDWR | (mode == OpenMode::Create ? O_CREAT | O_TRUNC : 0);
    int fd;
    do {
        fd = ::open(utf8::fromWide(*path_).c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    handle_ = fd;
    return true;
}

bool Win32File::osClose() {
    // The descriptor is released even when close reports an error; it is never retried.
    return ::close(fdOf(handle_)) == 0 || errno == EINTR;
}

bool Win32File::osSetEnd(uint32_t size) {
    int rc;
    do {
        rc = ::ftruncate(fdOf(handle_), static_cast<off_t>(size));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool Win32File::osQuerySize(uint32_t& size) {
    struct stat st {};
    if (::fstat(fdOf(handle_), &st) != 0 || st.st_size < 0)
        return false;
    // A file beyond what a 32-bit size holds cannot be mapped and worked on as a whole.
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize)
        return false;
    size = static_cast<uint32_t>(st.st_size);
    return true;
}

bool Win32File::osMap(uint32_t length) {
    const int protection = readOnly_ ? PROT_READ : PROT_READ | PROT_WRITE;
    void* view = ::mmap(nullptr, length, protection, MAP_SHARED, fdOf(handle_), 0);
    if (view == MAP_FAILED)
        return false;
    view_ = static_cast<uint8_t*>(view);
    return true;
}

bool Win32File::osUnmap(uint32_t length) {
    if (view_ == nullptr)
        return false;
    const bool unmapped = ::munmap(view_, length) == 0;
    view_ = nullptr;
    return unmapped;
}

bool Win32File::osExtendMapped(uint32_t oldLength, uint32_t length) {
    if (!osSetEnd(length))
        return false;
    void* view = ::mremap(view_, oldLength, length, MREMAP_MAYMOVE);
    if (view == MAP_FAILED)
        return false;
    view_ = static_cast<uint8_t*>(view);
    return true;
}
