#include "fs_loader.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "hostlog.h"
#include "log/rklog.h"
#include "system/platform.h"

namespace {

constexpr char kLogModule[] = "fs/fs_loader";

// Libraries whose code is in use (a monitor object, a resolved function nobody unloads): never
// unloaded.
std::mutex g_librariesMutex;
std::vector<std::unique_ptr<DynamicLibrary>> g_keptLibraries;

void keepLoaded(std::unique_ptr<DynamicLibrary> library) {
    std::lock_guard<std::mutex> lock(g_librariesMutex);
    g_keptLibraries.push_back(std::move(library));
}

}  // namespace

// The process's log for provider libraries (see hostlog.h). Defined here so that every program
// that can load a provider exports it.
VIGIL_C_EXPORT void vigilHostTrace(int kind, int line, const char* module, const char* function,
                                   const char* format, va_list args) {
    getRkLogFs()->vtrace(kind, line, module, function, format, args);
}

int adjustDynamicLibraryName(char* buffer, size_t bufferSize, const char* name,
                             const FsConfig* config) {
    RkLogWrapper* log = getRkLogFs();
    std::string prefix = config ? config->getString("corvid", "home", ".") : std::string(".");
    prefix += platform::kPathSeparatorNarrow;
    LOG_TRACE(log, "DLL prefix = %s\n", prefix.c_str());

    if (buffer == nullptr || name == nullptr || *name == '\0')
        return -1;
    const size_t needed = prefix.size() + std::strlen(name) + std::strlen(platform::kLibrarySuffix);
    if (bufferSize <= needed)
        return -1;
    std::snprintf(buffer, bufferSize, "%s%s%s", prefix.c_str(), name, platform::kLibrarySuffix);
    return 0;
}

void* loadLibraryAndFactory(const char* name, const FsConfig* config, const char* symbol,
                            std::unique_ptr<DynamicLibrary>* library) {
    RkLogWrapper* log = getRkLogFs();
    if (library)
        library->reset();
    char fileName[kLibraryNameSize];
    if (adjustDynamicLibraryName(fileName, sizeof fileName, name, config) != 0)
        return nullptr;

    std::unique_ptr<DynamicLibrary> loaded = openLibrary(fileName);
    if (!loaded) {
        LOG_TRACE(log, "*** Error: cannot load DLL '%s' (%s)\n", fileName, lastLibraryError());
        return nullptr;
    }
    void* function = findSymbol(loaded.get(), symbol);
    if (function == nullptr) {
        closeLibrary(std::move(loaded));
        return nullptr;
    }
    if (library)
        *library = std::move(loaded);
    else
        keepLoaded(std::move(loaded));
    return function;
}

std::unique_ptr<ChangeMonitor> loadFsProvider(const char* name, FsConfig* config) {
    RkLogWrapper* log = getRkLogFs();
    LOG_ENTRY(log, "FsLoader::loadVigil - entering...\n");
    std::unique_ptr<DynamicLibrary> library;
    auto factory = reinterpret_cast<CreateMonitorFunction>(
        loadLibraryAndFactory(name, config, kCreateMonitorSymbol, &library));
    std::unique_ptr<ChangeMonitor> monitor(factory ? factory(config) : nullptr);
    if (library) {
        if (monitor) {
            keepLoaded(std::move(library));
        } else {
            closeLibrary(std::move(library));
        }
    }
    LOG_EXIT(log, "FsLoader::loadVigil - exit\n");
    return monitor;
}
