#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "system/syserror_posix.h"
#include "system/sysinfo.h"
#include "text/utf8.h"

namespace sysinfo {

uint32_t currentProcessId() {
    return static_cast<uint32_t>(getpid());
}

uint64_t currentThreadId() {
    return static_cast<uint64_t>(syscall(SYS_gettid));
}

uint32_t tickCount() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

void localTime(std::time_t t, std::tm* out) {
    localtime_r(&t, out);
}

std::optional<std::wstring> getEnv(const wchar_t* name) {
    const char* value = std::getenv(utf8::fromWide(name).c_str());
    if (value == nullptr)
        return std::nullopt;
    return utf8::toWide(value);
}

std::wstring executablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return std::wstring();
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return utf8::toWide(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

uint32_t lastError() {
    return win32ErrorFromErrno(errno);
}

void setLastError(uint32_t code) {
    errno = errnoFromWin32Error(code);
}

std::string errorText(uint32_t code) {
    return std::strerror(errnoFromWin32Error(code));
}

}  // namespace sysinfo
