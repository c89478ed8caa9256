// Translation between errno values and the Win32 error numbers that the shared code tests.
#pragma once

#include <cstdint>

namespace sysinfo {

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorNoMoreFiles = 18;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorFilenameTooLong = 206;
inline constexpr uint32_t kErrorTooManyPosts = 298;
inline constexpr uint32_t kErrorTimeout = 1460;
inline constexpr uint32_t kErrorGenFailure = 31;

uint32_t win32ErrorFromErrno(int err);
int errnoFromWin32Error(uint32_t code);

}  // namespace sysinfo
