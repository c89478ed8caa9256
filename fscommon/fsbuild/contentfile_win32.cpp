#include <windows.h>

#include "fsbuild/contentfile.h"

ContentFile::~ContentFile() {
    if (handle_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool ContentFile::open(const char* path) {
    HANDLE h =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // A DOS device name (CON, NUL, COM1) opens a device, not a file.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

size_t ContentFile::read(void* buffer, size_t size) {
    if (handle_ == -1)
        return 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &got, nullptr))
        return 0;
    return got;
}

bool toCodePagePath(std::wstring_view path, std::string& out) {
    out.clear();
    if (path.empty())
        return true;
    // No best-fit stand-ins: a name that does not convert exactly would open another file.
    // The UTF-8 code page takes neither the flag nor the default-character report.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    const int length = static_cast<int>(path.size());
    const int n = WideCharToMultiByte(CP_ACP, flags, path.data(), length, nullptr, 0, nullptr,
                                      utf8 ? nullptr : &usedDefault);
    if (n <= 0 || usedDefault)
        return false;
    out.resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_ACP, flags, path.data(), length, out.data(), n, nullptr, nullptr);
    return true;
}
