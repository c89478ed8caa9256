#include <windows.h>

#include <cstdlib>

#include "system/sysinfo.h"

namespace sysinfo {

uint32_t currentProcessId() {
    return GetCurrentProcessId();
}

uint64_t currentThreadId() {
    return GetCurrentThreadId();
}

uint32_t tickCount() {
    return GetTickCount();
}

void localTime(std::time_t t, std::tm* out) {
    localtime_s(out, &t);
}

std::optional<std::wstring> getEnv(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0)
        return std::nullopt;
    std::wstring value(n, L'\0');
    DWORD got = GetEnvironmentVariableW(name, value.data(), n);
    if (got == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return std::nullopt;
    value.resize(got < n ? got : n - 1);
    return value;
}

std::wstring executablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

uint32_t lastError() {
    return GetLastError();
}

void setLastError(uint32_t code) {
    SetLastError(code);
}

std::string errorText(uint32_t code) {
    char buf[512];
    DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf, sizeof buf, nullptr);
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == ' '))
        --n;
    return std::string(buf, n);
}

}  // namespace sysinfo
