#include <windows.h>

#include <string>

#include "system/osfile.h"

namespace {

intptr_t toHandle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h);
}

void report(FileProblem* out, FileProblem problem) {
    if (out)
        *out = problem;
}

// What an open handle stands for: None for a regular disk file with one name.
FileProblem handleProblem(HANDLE h, bool oneName) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info))
        return FileProblem::NotRegular;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return FileProblem::Link;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (oneName && info.nNumberOfLinks > 1))
        return FileProblem::NotRegular;
    return FileProblem::None;
}

// What stands at path, the entry itself and not what a reparse point leads to; None when
// nothing stands there or a regular file does.
FileProblem entryProblem(const wchar_t* path) {
    HANDLE h = CreateFileW(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND)
            return FileProblem::None;
        SetLastError(err);
        return FileProblem::SystemError;
    }
    const FileProblem problem = handleProblem(h, false);
    CloseHandle(h);
    return problem;
}

bool writeAll(HANDLE h, const void* data, size_t length) {
    auto* p = static_cast<const char*>(data);
    while (length > 0) {
        DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(h, p, chunk, &written, nullptr) || written == 0)
            return false;
        p += written;
        length -= written;
    }
    return true;
}

}  // namespace

OsFile OsFile::openAppend(const wchar_t* path, FileProblem* problem) {
    FileProblem found = entryProblem(path);
    if (found != FileProblem::None) {
        report(problem, found);
        return OsFile();
    }
    // The entry may have changed since: open the entry itself and look again.
    HANDLE h =
        CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        report(problem, FileProblem::SystemError);
        return OsFile();
    }
    found = handleProblem(h, true);
    report(problem, found);
    if (found != FileProblem::None) {
        CloseHandle(h);
        return OsFile();
    }
    return OsFile(toHandle(h), true);
}

FileProblem OsFile::replaceWhole(const wchar_t* path, const void* data, size_t length) {
    const FileProblem found = entryProblem(path);
    if (found != FileProblem::None)
        return found;
    // CREATE_NEW never opens what is already there; the move replaces a reparse point planted
    // at path since the check above rather than writing through it.
    const std::wstring temp = std::wstring(path) + L"." + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(GetTickCount()) + L".tmp";
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return FileProblem::SystemError;
    bool ok = writeAll(h, data, length);
    ok = CloseHandle(h) != 0 && ok;
    if (ok && MoveFileExW(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return FileProblem::None;
    const DWORD err = GetLastError();
    DeleteFileW(temp.c_str());
    SetLastError(err);
    return FileProblem::SystemError;
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
    return valid() && writeAll(reinterpret_cast<HANDLE>(handle_), data, length);
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
