// Small process and system queries that differ between platforms.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace sysinfo {

uint32_t currentProcessId();
uint64_t currentThreadId();
// Milliseconds from a monotonic clock (GetTickCount / CLOCK_MONOTONIC), wrapping at 2^32.
uint32_t tickCount();
// Broken-down local time of t.
void localTime(std::time_t t, std::tm* out);
// The environment variable as wide text, or nothing when it is not set.
std::optional<std::wstring> getEnv(const wchar_t* name);
// Full path of the running program's executable; empty when the platform cannot tell.
std::wstring executablePath();
// The calling thread's last platform error as a Win32 number (errno mapped on Linux).
uint32_t lastError();
// Sets the calling thread's last platform error (a Win32 number).
void setLastError(uint32_t code);
// Win32 numbers that shared code tests.
inline constexpr uint32_t kErrorFileNotFoundCode = 2;
inline constexpr uint32_t kErrorPathNotFoundCode = 3;
inline constexpr uint32_t kErrorInvalidHandleCode = 6;
inline constexpr uint32_t kErrorFileTooLargeCode = 223;
// The platform's text for an error number from lastError (without trailing newline).
std::string errorText(uint32_t code);

}  // namespace sysinfo
