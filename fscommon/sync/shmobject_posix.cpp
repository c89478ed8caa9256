#include "sync/shmobject_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <utility>

#include "system/syserror_posix.h"
#include "system/sysinfo.h"
#include "text/utf8.h"

namespace {

constexpr uint32_t kMagic = 0x4C474956;  // "VIGL"
constexpr size_t kFileSize = 4096;
constexpr size_t kStateOffset = 64;
constexpr off_t kOpenLockByte = 0;
constexpr off_t kHolderLockByte = 1;
constexpr size_t kMaxPlainName = 200;

struct Header {
    uint32_t magic;
    uint32_t kind;
    uint32_t stateSize;
};

// Sets the last error and returns null, for the failure paths of open.
std::unique_ptr<ShmObject> fail(uint32_t code) {
    sysinfo::setLastError(code);
    return nullptr;
}

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

bool lockByte(int fd, off_t byte, short type, bool wait) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// Opens (creating when missing) the per-user directory; -1 when it is not ours or not safe.
int openUserDirectory() {
    const std::string path = shmObjectDirectory();
    const std::string parent = path.substr(0, path.rfind('/'));
    const std::string leaf = path.substr(path.rfind('/') + 1);
    Fd base(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (base.get() < 0)
        return -1;
    if (mkdirat(base.get(), leaf.c_str(), 0700) != 0 && errno != EEXIST)
        return -1;
    Fd dir(openat(base.get(), leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.get() < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            errno = EACCES;
        return -1;
    }
    struct stat st;
    if (fstat(dir.get(), &st) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        errno = EACCES;
        return -1;
    }
    if ((st.st_mode & 07777) != 0700 && fchmod(dir.get(), 0700) != 0)
        return -1;
    return dir.release();
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

uint64_t fnv1a(const std::string& s, uint64_t basis) {
    uint64_t h = basis;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001B3ull;
    }
    return h;
}

// Removes the files of objects that no process holds any more: a holder that was killed leaves
// its file behind (harmless, as the next opener starts afresh, but it would pile up).
void removeStaleFiles(int dirFd) {
    Fd scan(openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (scan.get() < 0)
        return;
    DIR* listing = fdopendir(scan.release());
    if (listing == nullptr)
        return;
    while (dirent* entry = readdir(listing)) {
        if (entry->d_name[0] == '.')
            continue;
        Fd fd(openat(dirFd, entry->d_name, O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        struct stat st, now;
        if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid() || !lockByte(fd.get(), kOpenLockByte, F_WRLCK, false)) {
            continue;
        }
        if (lockByte(fd.get(), kHolderLockByte, F_WRLCK, false) &&
            fstatat(dirFd, entry->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(st, now)) {
            unlinkat(dirFd, entry->d_name, 0);
        }
    }
    closedir(listing);
}

}  // namespace

std::string shmObjectDirectory() {
    struct stat st;
    const char* base = (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) ? "/dev/shm" : "/tmp";
    return std::string(base) + "/vigil-" + std::to_string(geteuid());
}

std::string shmFileName(const wchar_t* name) {
    std::wstring_view view(name ? name : L"");
    for (std::wstring_view prefix :
         {std::wstring_view(L"global\\"), std::wstring_view(L"local\\")}) {
        if (view.size() >= prefix.size()) {
            bool same = true;
            for (size_t i = 0; i < prefix.size() && same; ++i) {
                same = static_cast<wchar_t>(std::towlower(view[i])) == prefix[i];
            }
            if (same) {
                view.remove_prefix(prefix.size());
                break;
            }
        }
    }
    const std::string bytes = utf8::fromWide(view);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '_' || c == '-') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    if (out.empty())
        out = "%";
    if (out.size() > kMaxPlainName) {
        // '~' is always escaped above, so a shortened name never equals a plain one.
        char hash[40];
        snprintf(hash, sizeof hash, "~%016llx%016llx",
                 static_cast<unsigned long long>(fnv1a(bytes, 0xCBF29CE484222325ull)),
                 static_cast<unsigned long long>(fnv1a(bytes, 0x84222325CBF29CE4ull)));
        out.resize(kMaxPlainName - 40);
        out += hash;
    }
    return out;
}

std::unique_ptr<ShmObject> ShmObject::open(const wchar_t* name, ShmKind kind, size_t stateSize,
                                           const std::function<void(void*)>& init) {
    if (name == nullptr || stateSize > kFileSize - kStateOffset) {
        return fail(sysinfo::kErrorInvalidParameter);
    }
    Fd dir(openUserDirectory());
    if (dir.get() < 0)
        return fail(sysinfo::win32ErrorFromErrno(errno));
    static std::once_flag swept;
    std::call_once(swept, [&] { removeStaleFiles(dir.get()); });
    const std::string fileName = shmFileName(name);

    for (int attempt = 0; attempt < 1000; ++attempt) {
        Fd fd(openat(dir.get(), fileName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            return fail(errno == ELOOP ? sysinfo::kErrorAccessDenied
                                       : sysinfo::win32ErrorFromErrno(errno));
        }
        struct stat st;
        if (fstat(fd.get(), &st) != 0)
            return fail(sysinfo::win32ErrorFromErrno(errno));
        if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
            return fail(sysinfo::kErrorAccessDenied);
        }
        if (!lockByte(fd.get(), kOpenLockByte, F_WRLCK, true)) {
            return fail(sysinfo::win32ErrorFromErrno(errno));
        }
        // A last holder may have removed the file between our open and our lock.
        struct stat now;
        if (fstatat(dir.get(), fileName.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameFile(st, now)) {
            continue;
        }
        if ((st.st_mode & 07777) != 0600 && fchmod(fd.get(), 0600) != 0) {
            return fail(sysinfo::win32ErrorFromErrno(errno));
        }

        const bool alone = lockByte(fd.get(), kHolderLockByte, F_WRLCK, false);
        if (alone) {
            if (ftruncate(fd.get(), 0) != 0 || ftruncate(fd.get(), kFileSize) != 0) {
                return fail(sysinfo::win32ErrorFromErrno(errno));
            }
        } else if (!lockByte(fd.get(), kHolderLockByte, F_RDLCK, false) ||
                   fstat(fd.get(), &st) != 0 || static_cast<size_t>(st.st_size) < kFileSize) {
            return fail(sysinfo::kErrorAccessDenied);
        }
        void* map = mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
        if (map == MAP_FAILED)
            return fail(sysinfo::win32ErrorFromErrno(errno));
        auto* header = static_cast<Header*>(map);
        void* state = static_cast<char*>(map) + kStateOffset;
        if (alone) {
            header->kind = static_cast<uint32_t>(kind);
            header->stateSize = static_cast<uint32_t>(stateSize);
            if (init)
                init(state);
            std::atomic_thread_fence(std::memory_order_seq_cst);
            header->magic = kMagic;
            lockByte(fd.get(), kHolderLockByte, F_RDLCK, false);  // downgrade: now one holder
        } else if (header->magic != kMagic || header->kind != static_cast<uint32_t>(kind) ||
                   header->stateSize != stateSize) {
            munmap(map, kFileSize);
            return fail(sysinfo::kErrorInvalidHandle);
        }
        lockByte(fd.get(), kOpenLockByte, F_UNLCK, false);
        return std::unique_ptr<ShmObject>(
            new ShmObject(dir.release(), fd.release(), fileName, map, state, alone));
    }
    return fail(sysinfo::kErrorSharingViolation);
}

ShmObject::~ShmObject() {
    if (!keepMapped_)
        munmap(map_, kFileSize);
    // Under the open lock, drop our holder lock; if nobody else holds the object, it is gone,
    // and so is its file (openers that still hold the old file notice and start again).
    if (lockByte(fd_, kOpenLockByte, F_WRLCK, true)) {
        lockByte(fd_, kHolderLockByte, F_UNLCK, false);
        struct stat mine, named;
        if (lockByte(fd_, kHolderLockByte, F_WRLCK, false) && fstat(fd_, &mine) == 0 &&
            fstatat(dirFd_, fileName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(mine, named)) {
            unlinkat(dirFd_, fileName_.c_str(), 0);
        }
    }
    // A mapping keeps the open file, and with it its locks, alive past close: drop them first.
    lockByte(fd_, kHolderLockByte, F_UNLCK, false);
    lockByte(fd_, kOpenLockByte, F_UNLCK, false);
    ::close(fd_);
    ::close(dirFd_);
}

int shmFutexWait(std::atomic<uint32_t>* word, uint32_t expected, const struct timespec* deadline) {
    long r = syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_BITSET, expected,
                     deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
    if (r == 0 || errno == EAGAIN)
        return 0;
    return errno;
}

void shmFutexWake(std::atomic<uint32_t>* word, int count) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, count, nullptr, nullptr, 0);
}

struct timespec shmDeadlineAfter(unsigned ms) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += ms / 1000;
    ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000;
    if (ts.tv_nsec >= 1000000000) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000;
    }
    return ts;
}
