#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "entrysetup.h"

namespace entrysetup {

std::filesystem::path createHidden(const std::filesystem::path& dir) {
    const auto path = dir / ".hidden";
    std::ofstream(path).put('h');
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
    return path;
}

namespace {

// The mount-point form of the reparse data (a junction), as the file system stores it.
std::vector<char> junctionData(const std::wstring& target) {
    const std::wstring substitute = L"\\??\\" + target;
    const size_t subBytes = substitute.size() * sizeof(wchar_t);
    const size_t printBytes = target.size() * sizeof(wchar_t);
    const size_t pathBytes = subBytes + sizeof(wchar_t) + printBytes + sizeof(wchar_t);
    const size_t header = 8;  // tag, data length, reserved
    std::vector<char> data(header + 8 + pathBytes, 0);
    auto put16 = [&](size_t at, size_t v) {
        const uint16_t u = static_cast<uint16_t>(v);
        std::memcpy(data.data() + at, &u, 2);
    };
    const uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(data.data(), &tag, 4);
    put16(4, 8 + pathBytes);
    put16(8, 0);                            // substitute offset
    put16(10, subBytes);                    // substitute length
    put16(12, subBytes + sizeof(wchar_t));  // print offset
    put16(14, printBytes);                  // print length
    std::memcpy(data.data() + 16, substitute.data(), subBytes);
    std::memcpy(data.data() + 16 + subBytes + sizeof(wchar_t), target.data(), printBytes);
    return data;
}

bool makeJunction(const std::filesystem::path& target, const std::filesystem::path& link) {
    if (!CreateDirectoryW(link.c_str(), nullptr))
        return false;
    HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool ok = false;
    if (h != INVALID_HANDLE_VALUE) {
        std::vector<char> data = junctionData(std::filesystem::absolute(target).wstring());
        DWORD returned = 0;
        ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, data.data(),
                             static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr);
        CloseHandle(h);
    }
    if (!ok)
        RemoveDirectoryW(link.c_str());
    return ok;
}

}  // namespace

bool createDirectoryLink(const std::filesystem::path& target, const std::filesystem::path& link) {
    if (!makeJunction(target, link)) {
        CreateSymbolicLinkW(link.c_str(), target.c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2 /* unprivileged */);
    }
    // Some Wine versions answer success and make nothing.
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool createFifo(const std::filesystem::path&) {
    return false;
}

}  // namespace entrysetup
