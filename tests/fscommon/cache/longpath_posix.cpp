#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "longpath.h"
#include "text/utf8.h"

namespace longpath {

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Opens the directory, one component at a time when its path is too long for the system.
int openDirectory(const std::string& path) {
    int dir = ::open(path.c_str(), kDirectoryFlags);
    if (dir >= 0 || errno != ENAMETOOLONG)
        return dir;
    dir = ::open("/", kDirectoryFlags);
    for (size_t at = 1; dir >= 0 && at < path.size();) {
        const size_t end = std::min(path.find('/', at), path.size());
        const int next = openat(dir, path.substr(at, end - at).c_str(), kDirectoryFlags);
        ::close(dir);
        dir = next;
        at = end + 1;
    }
    return dir;
}

template <typename Use>
bool inDirectory(const std::wstring& parent, Use use) {
    const int dir = openDirectory(utf8::fromWide(parent));
    if (dir < 0)
        return false;
    const bool done = use(dir);
    ::close(dir);
    return done;
}

}  // namespace

bool make(const std::wstring& parent, const std::wstring& name, bool directory) {
    const std::string bytes = utf8::fromWide(name);
    return inDirectory(parent, [&](int dir) {
        if (directory)
            return mkdirat(dir, bytes.c_str(), 0755) == 0;
        const int fd = openat(dir, bytes.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        return fd >= 0 && ::close(fd) == 0;
    });
}

bool makeChain(const std::wstring& parent, const std::wstring& name, size_t depth) {
    const std::string bytes = utf8::fromWide(name);
    int dir = openDirectory(utf8::fromWide(parent));
    for (size_t k = 0; k < depth && dir >= 0; ++k) {
        const int next = mkdirat(dir, bytes.c_str(), 0755) == 0
                             ? openat(dir, bytes.c_str(), kDirectoryFlags)
                             : -1;
        ::close(dir);
        dir = next;
    }
    return dir >= 0 && ::close(dir) == 0;
}

bool remove(const std::wstring& parent, const std::wstring& name, bool directory) {
    const std::string bytes = utf8::fromWide(name);
    return inDirectory(parent, [&](int dir) {
        return unlinkat(dir, bytes.c_str(), directory ? AT_REMOVEDIR : 0) == 0;
    });
}

void allowOpenFiles(size_t count) {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < count) {
        limit.rlim_cur =
            limit.rlim_max == RLIM_INFINITY || limit.rlim_max > count ? count : limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace longpath
