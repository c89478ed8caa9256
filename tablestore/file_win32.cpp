#include <windows.h>

#include "file.h"

namespace {

HANDLE handleOf(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

}  // namespace

bool Win32File::osOpen(OpenMode mode) {
    // A reader also lets the writer delete the files under it.
    const bool reader = mode == OpenMode::ReadOnly;
    HANDLE h = CreateFileW(path_->c_str(), reader ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | (reader ? FILE_SHARE_DELETE : 0),
                           nullptr, mode == OpenMode::Create ? CREATE_ALWAYS : OPEN_EXISTING,
                           FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool Win32File::osClose() {
    return CloseHandle(handleOf(handle_)) != 0;
}

bool Win32File::osSetEnd(uint32_t size) {
    // With the high part given, the low part counts as unsigned: sizes up to 4 GiB - 1.
    LONG high = 0;
    if (SetFilePointer(handleOf(handle_), static_cast<LONG>(size), &high, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        return false;
    }
    return SetEndOfFile(handleOf(handle_)) != 0;
}

bool Win32File::osQuerySize(uint32_t& size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handleOf(handle_), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return false;
    // A file beyond what a 32-bit size holds cannot be mapped and worked on as a whole.
    if (high != 0)
        return false;
    size = low;
    return true;
}

bool Win32File::osMap(uint32_t) {
    HANDLE mapping = CreateFileMappingW(handleOf(handle_), nullptr,
                                        readOnly_ ? PAGE_READONLY : PAGE_READWRITE, 0, 0, nullptr);
    if (mapping == nullptr)
        return false;
    void* view =
        MapViewOfFile(mapping, readOnly_ ? FILE_MAP_READ : FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (view == nullptr) {
        CloseHandle(mapping);
        return false;
    }
    mapping_ = reinterpret_cast<intptr_t>(mapping);
    view_ = static_cast<uint8_t*>(view);
    return true;
}

bool Win32File::osUnmap(uint32_t) {
    if (view_ == nullptr || mapping_ == 0)
        return false;
    const bool unmapped = UnmapViewOfFile(view_) != 0;
    const bool closed = CloseHandle(handleOf(mapping_)) != 0;
    view_ = nullptr;
    mapping_ = 0;
    return unmapped && closed;
}

bool Win32File::osExtendMapped(uint32_t, uint32_t) {
    // A view cannot grow: the file is unmapped, lengthened and mapped again.
    return false;
}
