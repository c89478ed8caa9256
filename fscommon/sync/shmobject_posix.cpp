#include "sync/shmobject_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "log/rklog.h"
#include "system/syserror_posix.h"
#include "system/sysinfo.h"
#include "text/utf8.h"

namespace {

constexpr char kLogModule[] = "fscommon/shmobject";
constexpr uint32_t kMagic = 0x4C474956;  // "VIGL"
constexpr size_t kFileSize = 4096;
constexpr size_t kStateOffset = 64;
constexpr off_t kOpenLockByte = 0;
constexpr off_t kHolderLockByte = 1;
constexpr size_t kMaxPlainName = 200;
// Another process holds the open lock only for the moment of an open or close; one that keeps
// it longer is stuck or hostile, and nobody waits for it without limit.
constexpr unsigned kLockWaitSeconds = 10;

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
    void reset(int fd) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

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

// Takes the write lock on the byte, waiting at most kLockWaitSeconds; false with errno
// ETIMEDOUT when another process kept it that long.
bool lockByteBounded(int fd, off_t byte) {
    const struct timespec deadline = shmDeadlineAfter(kLockWaitSeconds * 1000);
    unsigned pauseUs = 500;
    for (;;) {
        if (lockByte(fd, byte, F_WRLCK, false))
            return true;
        if (errno != EAGAIN && errno != EACCES)
            return false;
        if (shmDeadlinePassed(deadline)) {
            errno = ETIMEDOUT;
            return false;
        }
        usleep(pauseUs);
        pauseUs = std::min(pauseUs * 2, 50000u);
    }
}

std::string describeEntry(const struct stat& st) {
    const char* type = S_ISDIR(st.st_mode)   ? "a directory"
                       : S_ISLNK(st.st_mode) ? "a symbolic link"
                       : S_ISREG(st.st_mode) ? "a regular file"
                                             : "a special file";
    char text[96];
    snprintf(text, sizeof text, "%s of uid %u, mode %04o", type, static_cast<unsigned>(st.st_uid),
             static_cast<unsigned>(st.st_mode & 07777));
    return text;
}

// Opens the directory leaf in parentFd, creating it (0700) first when create is set. Returns it
// when it is a directory of ours (its mode made 0700), else -1 with errno: ENOENT when it is
// missing, EACCES with *found describing what stands there instead.
int openOwnDirectory(int parentFd, const std::string& leaf, bool create, std::string* found) {
    if (create && mkdirat(parentFd, leaf.c_str(), 0700) != 0 && errno != EEXIST)
        return -1;
    Fd dir(openat(parentFd, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (dir.get() < 0) {
        const int err = errno;
        if (err != ELOOP && err != ENOTDIR) {
            errno = err;
            return -1;
        }
        if (fstatat(parentFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            *found = describeEntry(st);
        errno = EACCES;
        return -1;
    }
    if (fstat(dir.get(), &st) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        *found = describeEntry(st);
        errno = EACCES;
        return -1;
    }
    if ((st.st_mode & 07777) != 0700 && fchmod(dir.get(), 0700) != 0)
        return -1;
    return dir.release();
}

// The user's home directory from the password database (not $HOME, which differs between the
// processes of one user); looked up once, as it does not change while the process runs.
const std::string& homeDirectory() {
    static const std::string home = [] {
        struct passwd pw, *result = nullptr;
        std::vector<char> buffer(16384);
        if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &result) != 0 ||
            result == nullptr || pw.pw_dir == nullptr || pw.pw_dir[0] != '/') {
            return std::string();
        }
        return std::string(pw.pw_dir);
    }();
    return home;
}

// Opens the home directory when it is the user's own: owned by the user or root and writable by
// nobody else. -1 otherwise, with *found saying why.
int openHome(std::string* path, std::string* found) {
    *path = homeDirectory();
    if (path->empty()) {
        *found = "no home directory in the password database";
        return -1;
    }
    Fd home(::open(path->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (home.get() < 0 || fstat(home.get(), &st) != 0) {
        *found = strerror(errno);
        return -1;
    }
    if ((st.st_uid != geteuid() && st.st_uid != 0) ||
        ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)) {
        *found = describeEntry(st);
        return -1;
    }
    return home.release();
}

std::string fallbackLeaf() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0' || strchr(host, '/'))
        snprintf(host, sizeof host, "localhost");
    return std::string(".vigil-objects-") + host;
}

// Opens the per-user directory (see the header), creating it when missing; -1 with errno when
// there is none to be had (EACCES when things of others stand in the way, which is logged).
int openUserDirectory(std::string* path) {
    std::string homePath, homeProblem;
    Fd home(openHome(&homePath, &homeProblem));
    const std::string leaf = fallbackLeaf();
    std::string fallbackFound;
    if (home.get() >= 0) {
        Fd dir(openOwnDirectory(home.get(), leaf, false, &fallbackFound));
        if (dir.get() >= 0) {
            *path = homePath + "/" + leaf;
            return dir.release();
        }
    }

    struct stat st;
    const char* base = (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) ? "/dev/shm" : "/tmp";
    const std::string primaryLeaf = "vigil-" + std::to_string(geteuid());
    const std::string primary = std::string(base) + "/" + primaryLeaf;
    Fd parent(::open(base, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0)
        return -1;
    std::string found;
    Fd dir(openOwnDirectory(parent.get(), primaryLeaf, true, &found));
    if (dir.get() >= 0) {
        *path = primary;
        return dir.release();
    }
    if (errno != EACCES)
        return -1;

    // Someone else took the name. Say once what is in the way.
    RkLogWrapper* log = getRkLogFs();
    static std::atomic<bool> told{false};
    const bool tell = !told.exchange(true);
    if (home.get() >= 0)
        dir.reset(openOwnDirectory(home.get(), leaf, true, &fallbackFound));
    if (dir.get() >= 0) {
        *path = homePath + "/" + leaf;
        if (tell) {
            LOG_TRACE(log,
                      "ShmObject::open - cannot use [%s] for named objects: %s; using [%s] "
                      "instead\n",
                      primary.c_str(), found.c_str(), path->c_str());
        }
        return dir.release();
    }
    if (tell) {
        LOG_TRACE(log, "ShmObject::open - cannot use [%s] for named objects: %s\n", primary.c_str(),
                  found.c_str());
        LOG_TRACE(log, "ShmObject::open - cannot use [%s/%s] either: %s\n", homePath.c_str(),
                  leaf.c_str(), home.get() < 0 ? homeProblem.c_str() : fallbackFound.c_str());
    }
    errno = EACCES;
    return -1;
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
    std::string path;
    Fd dir(openUserDirectory(&path));
    return dir.get() >= 0 ? path : std::string();
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
    RkLogWrapper* log = getRkLogFs();
    std::string dirPath;
    Fd dir(openUserDirectory(&dirPath));
    if (dir.get() < 0)
        return fail(sysinfo::win32ErrorFromErrno(errno));
    static std::once_flag swept;
    std::call_once(swept, [&] { removeStaleFiles(dir.get()); });
    const std::string fileName = shmFileName(name);

    for (int attempt = 0; attempt < 1000; ++attempt) {
        Fd fd(openat(dir.get(), fileName.c_str(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            return fail(errno == ELOOP || errno == ENXIO ? sysinfo::kErrorAccessDenied
                                                         : sysinfo::win32ErrorFromErrno(errno));
        }
        struct stat st;
        if (fstat(fd.get(), &st) != 0)
            return fail(sysinfo::win32ErrorFromErrno(errno));
        if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
            return fail(sysinfo::kErrorAccessDenied);
        }
        if (!lockByteBounded(fd.get(), kOpenLockByte)) {
            if (errno != ETIMEDOUT)
                return fail(sysinfo::win32ErrorFromErrno(errno));
            LOG_TRACE(log,
                      "ShmObject::open - cannot open [%s/%s]: another process has kept it locked "
                      "for %u s\n",
                      dirPath.c_str(), fileName.c_str(), kLockWaitSeconds);
            return fail(sysinfo::kErrorSharingViolation);
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
            // The pages are reserved now: writing to a mapping whose memory is not there (a full
            // /dev/shm) would end the process with SIGBUS.
            int err = ftruncate(fd.get(), 0) == 0 ? posix_fallocate(fd.get(), 0, kFileSize) : errno;
            if (err != 0) {
                LOG_TRACE(log, "ShmObject::open - cannot reserve %u bytes for [%s/%s]: %s\n",
                          static_cast<unsigned>(kFileSize), dirPath.c_str(), fileName.c_str(),
                          strerror(err));
                unlinkat(dir.get(), fileName.c_str(), 0);
                return fail(sysinfo::win32ErrorFromErrno(err));
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

bool ShmObject::removed() const {
    struct stat st;
    return fstat(fd_, &st) == 0 && st.st_nlink == 0;
}

ShmObject::~ShmObject() {
    if (!keepMapped_)
        munmap(map_, kFileSize);
    // Under the open lock, drop our holder lock; if nobody else holds the object, it is gone,
    // and so is its file (openers that still hold the old file notice and start again). When
    // another process keeps the open lock, the file stays for a later sweep.
    if (lockByteBounded(fd_, kOpenLockByte)) {
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

namespace {

struct Watchdog {
    std::mutex mutex;
    std::vector<ShmWatched*> watched;
    bool running = false;
};

// Never destroyed: the thread may look at it while the process ends.
Watchdog& watchdog() {
    static Watchdog* instance = new Watchdog;
    return *instance;
}

void watchdogLoop() {
    Watchdog& w = watchdog();
    for (;;) {
        struct timespec second = {1, 0};
        while (nanosleep(&second, &second) != 0 && errno == EINTR) {
        }
        std::lock_guard<std::mutex> lock(w.mutex);
        for (ShmWatched* item : w.watched)
            item->check();
    }
}

}  // namespace

void shmWatch(ShmWatched* watched) {
    Watchdog& w = watchdog();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.watched.push_back(watched);
    if (w.running)
        return;
    // The thread takes no signals: they belong to the threads the program chose.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
        std::thread(watchdogLoop).detach();
        w.running = true;
    } catch (...) {
        // Without a thread nothing is watched; the next object tries again.
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void shmUnwatch(ShmWatched* watched) {
    Watchdog& w = watchdog();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.watched.erase(std::remove(w.watched.begin(), w.watched.end(), watched), w.watched.end());
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

bool shmDeadlinePassed(const struct timespec& deadline) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec ||
           (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}
