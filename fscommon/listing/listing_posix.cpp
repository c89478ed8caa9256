#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "listing/listing.h"
#include "listing/listingos.h"
#include "system/drivehelper.h"
#include "system/syserror_posix.h"
#include "text/utf8.h"

namespace listing {

namespace {

// A directory on another device than its parent may be a mount point; only then is the mount
// table read. The mount table names resolved paths.
bool isNonFixedMountPoint(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return false;
    const std::wstring wide = utf8::toWide(real);
    std::free(real);
    DriveHelper drives;
    return DriveHelper::isNonFixedMountPoint(drives.nonFixedMountPoints(), wide.c_str());
}

// A symbolic link is never followed, but one that leads to a directory carries the directory
// bit beside the reparse bit, as Windows lists a directory link or junction; so that callers
// that skip reparse directories never record it as a file.
void fillEntry(ListingEntry& entry, const struct stat& st, std::string_view name,
               bool nonFixedMount, bool linkToDirectory) {
    uint32_t attributes = 0;
    if (S_ISDIR(st.st_mode) || linkToDirectory)
        attributes |= kAttrDirectory;
    else if (!S_ISREG(st.st_mode))
        attributes |= kAttrSystem;
    if (S_ISLNK(st.st_mode) || nonFixedMount)
        attributes |= kAttrReparsePoint;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        attributes |= kAttrReadOnly;
    if (!name.empty() && name[0] == '.')
        attributes |= kAttrHidden;
    const uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    entry.attributes = attributes;
    entry.sizeHigh = static_cast<uint32_t>(size >> 32);
    entry.sizeLow = static_cast<uint32_t>(size);
    utf8::toWide(name, entry.name);
    entry.shortName.clear();
}

// Whether the link at (dir, name) leads to a directory; only its target's type is looked at.
bool linksToDirectory(int dir, const char* name) {
    struct stat target;
    return fstatat(dir, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
}

bool isDotName(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

struct DirectoryListing::Impl {
    DIR* dir = nullptr;
    dev_t device = 0;
    std::string path;  // for the rare mount-point check

    ~Impl() {
        if (dir != nullptr)
            closedir(dir);
    }
};

DirectoryListing::DirectoryListing() = default;
DirectoryListing::~DirectoryListing() = default;
DirectoryListing::DirectoryListing(DirectoryListing&&) noexcept = default;
DirectoryListing& DirectoryListing::operator=(DirectoryListing&&) noexcept = default;

namespace {

// Takes over the open directory descriptor fd (closed on failure) as the listing of path.
uint32_t adoptDirectory(int fd, std::string path, std::unique_ptr<DirectoryListing::Impl>& out) {
    if (fd < 0)
        return sysinfo::win32ErrorFromErrno(errno);
    auto impl = std::make_unique<DirectoryListing::Impl>();
    impl->path = std::move(path);
    impl->dir = fdopendir(fd);
    if (impl->dir == nullptr) {
        const int err = errno;
        ::close(fd);
        return sysinfo::win32ErrorFromErrno(err);
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        return sysinfo::win32ErrorFromErrno(errno);
    impl->device = st.st_dev;
    out = std::move(impl);
    return sysinfo::kErrorSuccess;
}

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

}  // namespace

uint32_t DirectoryListing::open(std::wstring_view directory) {
    close();
    std::string path = utf8::fromWide(directory);
    const int fd = ::open(path.c_str(), kDirectoryFlags);
    return adoptDirectory(fd, std::move(path), impl_);
}

uint32_t DirectoryListing::openChild(const DirectoryListing& parent, std::wstring_view name,
                                     std::wstring_view) {
    close();
    if (!parent.impl_)
        return sysinfo::kErrorInvalidHandle;
    const std::string bytes = utf8::fromWide(name);
    const int fd = ::openat(dirfd(parent.impl_->dir), bytes.c_str(), kDirectoryFlags | O_NOFOLLOW);
    // The parent's path is already in bytes: only the name needs converting.
    std::string childPath = parent.impl_->path;
    if (childPath.empty() || childPath.back() != '/')
        childPath += '/';
    childPath += bytes;
    return adoptDirectory(fd, std::move(childPath), impl_);
}

uint32_t DirectoryListing::next(ListingEntry& entry) {
    if (!impl_)
        return sysinfo::kErrorInvalidHandle;
    for (;;) {
        errno = 0;
        const dirent* d = readdir(impl_->dir);
        if (d == nullptr)
            return errno == 0 ? sysinfo::kErrorNoMoreFiles : sysinfo::win32ErrorFromErrno(errno);
        struct stat st;
        if (isDotName(d->d_name)) {
            st = {};
            st.st_mode = S_IFDIR | S_IWUSR;
            fillEntry(entry, st, d->d_name, false, false);
            entry.attributes &= ~kAttrHidden;
            return sysinfo::kErrorSuccess;
        }
        if (fstatat(dirfd(impl_->dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;  // gone since it was read
            // Not searchable: what the directory itself says of the entry.
            st = {};
            st.st_mode = DTTOIF(d->d_type) | S_IWUSR;
        }
        const bool crossing = S_ISDIR(st.st_mode) && st.st_dev != impl_->device &&
                              isNonFixedMountPoint(impl_->path + '/' + d->d_name);
        const bool linkToDirectory =
            S_ISLNK(st.st_mode) && linksToDirectory(dirfd(impl_->dir), d->d_name);
        fillEntry(entry, st, d->d_name, crossing, linkToDirectory);
        return sysinfo::kErrorSuccess;
    }
}

void DirectoryListing::close() {
    impl_.reset();
}

uint32_t os::lookup(std::wstring_view path, ListingEntry& entry) {
    const std::string bytes = utf8::fromWide(path);
    const size_t slash = bytes.rfind('/');
    const std::string_view name = slash == std::string::npos
                                      ? std::string_view(bytes)
                                      : std::string_view(bytes).substr(slash + 1);
    if (name.empty())
        return sysinfo::kErrorFileNotFound;  // a root is no entry of a listing
    struct stat st;
    if (lstat(bytes.c_str(), &st) != 0)
        return sysinfo::win32ErrorFromErrno(errno);
    bool mount = false;
    if (S_ISDIR(st.st_mode)) {
        const std::string parent = slash == std::string::npos ? std::string(".")
                                   : slash == 0               ? std::string("/")
                                                              : bytes.substr(0, slash);
        struct stat up;
        mount =
            stat(parent.c_str(), &up) == 0 && up.st_dev != st.st_dev && isNonFixedMountPoint(bytes);
    }
    fillEntry(entry, st, name, mount,
              S_ISLNK(st.st_mode) && linksToDirectory(AT_FDCWD, bytes.c_str()));
    return sysinfo::kErrorSuccess;
}

}  // namespace listing
