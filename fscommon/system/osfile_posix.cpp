#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "system/osfile.h"
#include "text/utf8.h"

namespace {

void report(FileProblem* out, FileProblem problem) {
    if (out)
        *out = problem;
}

// What stands at a path, without following a link: None when nothing or a regular file.
FileProblem entryProblem(const struct stat& st) {
    if (S_ISLNK(st.st_mode))
        return FileProblem::Link;
    return S_ISREG(st.st_mode) ? FileProblem::None : FileProblem::NotRegular;
}

// Writes all bytes, going on after interruptions.
bool writeAll(int fd, const void* data, size_t length) {
    auto* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

OsFile OsFile::openAppend(const wchar_t* path, FileProblem* problem) {
    const std::string p = utf8::fromWide(path);
    // Look first, so that a device or FIFO is not even opened; then open without following a
    // link or blocking, and check what was opened, which may have changed since.
    struct stat st;
    if (lstat(p.c_str(), &st) == 0 && entryProblem(st) != FileProblem::None) {
        report(problem, entryProblem(st));
        return OsFile();
    }
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                    0644);
    if (fd < 0) {
        const int err = errno;
        report(problem, err == ELOOP                    ? FileProblem::Link
                        : err == ENXIO || err == EISDIR ? FileProblem::NotRegular
                                                        : FileProblem::SystemError);
        errno = err;
        return OsFile();
    }
    // A second name would let this file stand for one elsewhere (a planted hard link).
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        fcntl(fd, F_SETFL, O_APPEND) != 0) {
        ::close(fd);
        report(problem, FileProblem::NotRegular);
        return OsFile();
    }
    report(problem, FileProblem::None);
    return OsFile(fd, true);
}

FileProblem OsFile::replaceWhole(const wchar_t* path, const void* data, size_t length) {
    const std::string p = utf8::fromWide(path);
    struct stat st;
    if (lstat(p.c_str(), &st) == 0) {
        if (entryProblem(st) != FileProblem::None)
            return entryProblem(st);
    } else if (errno != ENOENT) {
        return FileProblem::SystemError;
    }
    // mkostemp creates exclusively, so the temporary name never follows a link either. A link
    // planted at path after the check above is replaced by the rename, not written through.
    std::string temp = p + ".XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return FileProblem::SystemError;
    bool ok = fchmod(fd, 0644) == 0 && writeAll(fd, data, length);
    ok = ::close(fd) == 0 && ok;
    if (ok && rename(temp.c_str(), p.c_str()) == 0)
        return FileProblem::None;
    const int err = errno;
    unlink(temp.c_str());
    errno = err;
    return err == EISDIR || err == ENOTEMPTY ? FileProblem::NotRegular : FileProblem::SystemError;
}

OsFile OsFile::openRead(const wchar_t* path) {
    int fd = ::open(utf8::fromWide(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        fd = -1;
        errno = EINVAL;
    }
    return OsFile(fd, true);
}

OsFile OsFile::standardError() {
    return OsFile(STDERR_FILENO, false);
}

bool OsFile::write(const void* data, size_t length) {
    return valid() && writeAll(static_cast<int>(handle_), data, length);
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
