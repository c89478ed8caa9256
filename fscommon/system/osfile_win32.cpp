#include <windows.h>

#include "system/osfile.h"

namespace {

intptr_t toHandle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h);
}

}  // namespace

OsFile OsFile::createAlways(const wchar_t* path) {
    HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return OsFile(toHandle(h), true);
}

OsFile OsFile::openAppend(const wchar_t* path) {
    HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return OsFile(toHandle(h), true);
}

OsFile OsFile::openRead(const wchar_t* path) {
    HANDLE h =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return OsFile(toHandle(h), true);
}

OsFile OsFile::standardError() {
    return OsFile(toHandle(GetStdHandle(STD_ERROR_HANDLE)), false);
}

bool OsFile::write(const void* data, size_t length) {
    if (!valid())
        return false;
    auto* p = static_cast<const char*>(data);
    while (length > 0) {
        DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle_), p, chunk, &written, nullptr) ||
            written == 0) {
            return false;
        }
        p += written;
        length -= written;
    }
    return true;
}

long long OsFile::read(void* buffer, size_t length) {
    if (!valid())
        return -1;
    const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, chunk, &got, nullptr))
        return -1;
    return got;
}

bool OsFile::close() {
    if (!valid())
        return false;
    bool ok = owned_ ? CloseHandle(reinterpret_cast<HANDLE>(handle_)) != 0 : true;
    handle_ = kInvalid;
    return ok;
}
