#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fsbuild/contentfile.h"
#include "text/utf8.h"

ContentFile::~ContentFile() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

bool ContentFile::open(const char* path) {
    // Not blocking: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

size_t ContentFile::read(void* buffer, size_t size) {
    if (handle_ < 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno != EINTR)
            return 0;
    }
}

bool toCodePagePath(std::wstring_view path, std::string& out) {
    out = utf8::fromWide(path);
    return true;
}
