#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "system/osfile.h"
#include "text/utf8.h"

OsFile OsFile::createAlways(const wchar_t* path) {
    int fd = ::open(utf8::fromWide(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return OsFile(fd, true);
}

OsFile OsFile::openAppend(const wchar_t* path) {
    int fd = ::open(utf8::fromWide(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return OsFile(fd, true);
}

OsFile OsFile::openRead(const wchar_t* path) {
    int fd = ::open(utf8::fromWide(path).c_str(), O_RDONLY | O_CLOEXEC);
    return OsFile(fd, true);
}

OsFile OsFile::standardError() {
    return OsFile(STDERR_FILENO, false);
}

bool OsFile::write(const void* data, size_t length) {
    if (!valid())
        return false;
    auto* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = ::write(static_cast<int>(handle_), p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

long long OsFile::read(void* buffer, size_t length) {
    if (!valid())
        return -1;
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(handle_), buffer, length);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

bool OsFile::close() {
    if (!valid())
        return false;
    bool ok = owned_ ? ::close(static_cast<int>(handle_)) == 0 : true;
    handle_ = kInvalid;
    return ok;
}
