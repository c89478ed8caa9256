#include <windows.h>

#include "libraryos.h"
#include "system/sysinfo.h"

namespace libraryos {

void* open(const char* fileName) {
    return LoadLibraryA(fileName);
}

void* symbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

bool close(void* handle) {
    return FreeLibrary(static_cast<HMODULE>(handle)) != 0;
}

void* mainProgram() {
    return GetModuleHandleW(nullptr);
}

Error lastError() {
    Error error;
    error.code = GetLastError();
    error.text = sysinfo::errorText(error.code);
    return error;
}

}  // namespace libraryos
