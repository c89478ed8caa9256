#include <dlfcn.h>

#include "libraryos.h"
#include "system/sysinfo.h"

namespace libraryos {

void* open(const char* fileName) {
    dlerror();
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* symbol(void* handle, const char* name) {
    dlerror();
    return dlsym(handle, name);
}

bool close(void* handle) {
    dlerror();
    return dlclose(handle) == 0;
}

void* mainProgram() {
    return RTLD_DEFAULT;
}

Error lastError() {
    Error error;
    error.code = sysinfo::lastError();
    if (const char* text = dlerror())
        error.text = text;
    return error;
}

}  // namespace libraryos
