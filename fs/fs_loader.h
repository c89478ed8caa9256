// Loading of the provider library: its file name from the configuration, the library, its
// factory "createMonitor" and the monitor object.
#pragma once

#include <cstddef>
#include <memory>

#include "changemonitor.h"
#include "dynamiclibrary.h"
#include "fsconfig.h"

// Room for a library's file name, terminator included.
inline constexpr size_t kLibraryNameSize = 2000;

// Writes the file name of library `name` into buffer: the configured home (section "corvid", key
// "home", default ".") and a path separator, the name, and the platform's library suffix
// (".dll" / ".so"). 0, or -1 when the name is missing or empty or the buffer is too small.
int adjustDynamicLibraryName(char* buffer, size_t bufferSize, const char* name,
                             const FsConfig* config);

// Loads library `name` and resolves symbol in it: the address, or null. When library is given it
// receives the loaded library (null on failure); without it the library stays loaded. A library
// whose symbol is missing is unloaded again.
void* loadLibraryAndFactory(const char* name, const FsConfig* config, const char* symbol,
                            std::unique_ptr<DynamicLibrary>* library);

// Loads provider `name` and creates its monitor object with config; null on failure. A library
// that gave a monitor object stays loaded until the process ends; any other is unloaded.
std::unique_ptr<ChangeMonitor> loadFsProvider(const char* name, FsConfig* config);
