#include "system/syserror_posix.h"

#include <cerrno>

namespace sysinfo {

namespace {

struct Pair {
    int err;
    uint32_t code;
};

// First match wins in both directions.
constexpr Pair kPairs[] = {
    {0, kErrorSuccess},
    {ENOENT, kErrorFileNotFound},
    {ENOTDIR, kErrorPathNotFound},
    {EACCES, kErrorAccessDenied},
    {EPERM, kErrorAccessDenied},
    {EROFS, kErrorAccessDenied},
    {ELOOP, kErrorAccessDenied},
    {EBADF, kErrorInvalidHandle},
    {ENOMEM, kErrorNotEnoughMemory},
    {EBUSY, kErrorSharingViolation},
    {EEXIST, kErrorAlreadyExists},
    {EINVAL, kErrorInvalidParameter},
    {ENOSPC, kErrorDiskFull},
    {EDQUOT, kErrorDiskFull},
    {ENAMETOOLONG, kErrorFilenameTooLong},
    {ETIMEDOUT, kErrorTimeout},
    {EILSEQ, kErrorInvalidName},
    {EOVERFLOW, kErrorTooManyPosts},
    {EIO, kErrorGenFailure},
};

}  // namespace

uint32_t win32ErrorFromErrno(int err) {
    for (const Pair& p : kPairs) {
        if (p.err == err)
            return p.code;
    }
    return kErrorGenFailure;
}

int errnoFromWin32Error(uint32_t code) {
    if (code == kErrorNoMoreFiles)
        return ENOENT;
    for (const Pair& p : kPairs) {
        if (p.code == code)
            return p.err;
    }
    return EIO;
}

}  // namespace sysinfo
