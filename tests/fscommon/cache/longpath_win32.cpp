#include <windows.h>

#include "longpath.h"

namespace longpath {

namespace {

// The "\\?\" form is not held to MAX_PATH.
std::wstring extended(const std::wstring& parent, const std::wstring& name) {
    return L"\\\\?\\" + parent + L"\\" + name;
}

}  // namespace

bool make(const std::wstring& parent, const std::wstring& name, bool directory) {
    const std::wstring path = extended(parent, name);
    if (directory)
        return CreateDirectoryW(path.c_str(), nullptr) != 0;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool makeChain(const std::wstring& parent, const std::wstring& name, size_t depth) {
    std::wstring path = parent;
    for (size_t k = 0; k < depth; ++k, path += L"\\" + name) {
        if (!make(path, name, true))
            return false;
    }
    return true;
}

bool remove(const std::wstring& parent, const std::wstring& name, bool directory) {
    const std::wstring path = extended(parent, name);
    return (directory ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) != 0;
}

void allowOpenFiles(size_t) {}

}  // namespace longpath
