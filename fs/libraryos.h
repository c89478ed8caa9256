// Thin platform calls for dynamic libraries (Windows: LoadLibraryA / GetProcAddress /
// FreeLibrary; Linux: dlopen / dlsym / dlclose). Policy and messages live in the callers.
#pragma once

#include <cstdint>
#include <string>

namespace libraryos {

// The library's handle, or null (see lastError).
void* open(const char* fileName);
void* symbol(void* handle, const char* name);
bool close(void* handle);
// The running program itself, whose exported symbols symbol() then finds.
void* mainProgram();

struct Error {
    uint32_t code = 0;  // the platform's last error number
    std::string text;   // the platform's description, empty when it has none
};
// The failure of the last call above on this thread; call once, right after the failure.
Error lastError();

}  // namespace libraryos
