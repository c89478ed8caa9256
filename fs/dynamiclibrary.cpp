#include "dynamiclibrary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "libraryos.h"

namespace {

std::mutex g_errorMutex;
char g_libraryErrorText[kLibraryErrorTextSize] = "";

void setErrorText(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_errorMutex);
    const size_t n = std::min(text.size(), kLibraryErrorTextSize - 1);
    std::memcpy(g_libraryErrorText, text.data(), n);
    g_libraryErrorText[n] = '\0';
}

void setErrorFromPlatform() {
    const libraryos::Error error = libraryos::lastError();
    setErrorText(libraryErrorText(error.code, error.text));
}

}  // namespace

std::string libraryErrorText(uint32_t code, const std::string& platformText) {
    if (!platformText.empty())
        return platformText.substr(0, kLibraryErrorTextSize - 1);
    char text[16];
    std::snprintf(text, sizeof text, "E:%08x", static_cast<unsigned>(code));
    return text;
}

std::unique_ptr<DynamicLibrary> openLibrary(const char* fileName) {
    if (fileName == nullptr) {
        setErrorText("Invalid name");
        return nullptr;
    }
    void* handle = libraryos::open(fileName);
    if (handle == nullptr) {
        setErrorFromPlatform();
        return nullptr;
    }
    auto library = std::make_unique<DynamicLibrary>();
    library->handle = handle;
    return library;
}

void* findSymbol(const DynamicLibrary* library, const char* symbol) {
    if (library == nullptr || library->handle == nullptr || symbol == nullptr) {
        setErrorText("Invalid handle");
        return nullptr;
    }
    void* address = libraryos::symbol(library->handle, symbol);
    if (address == nullptr)
        setErrorFromPlatform();
    return address;
}

int closeLibrary(std::unique_ptr<DynamicLibrary> library) {
    if (!library || library->handle == nullptr) {
        setErrorText("Invalid handle");
        return -1;
    }
    if (!libraryos::close(library->handle)) {
        setErrorFromPlatform();
        return -1;
    }
    return 0;
}

const char* lastLibraryError() {
    return g_libraryErrorText;
}
