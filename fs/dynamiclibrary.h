// A loaded dynamic library and the description of the last library failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct DynamicLibrary {
    void* handle = nullptr;
};

// Size of the process-wide error text, terminator included.
inline constexpr size_t kLibraryErrorTextSize = 2000;

// The library, or null (lastLibraryError then tells why).
std::unique_ptr<DynamicLibrary> openLibrary(const char* fileName);
// The symbol's address, or null (lastLibraryError then tells why).
void* findSymbol(const DynamicLibrary* library, const char* symbol);
// Unloads the library: 0, or -1 (a missing library: "Invalid handle"); the wrapper is released
// either way.
int closeLibrary(std::unique_ptr<DynamicLibrary> library);
// The description of the last library failure of the process.
const char* lastLibraryError();

// The error text for a platform error: the platform's own text, or "E:" and the code in eight
// lower-case hexadecimal digits when it has none; cut to fit kLibraryErrorTextSize.
std::string libraryErrorText(uint32_t code, const std::string& platformText);
