// A library for the loader's failure paths: it notes its loading and unloading in the file
// named by VIGIL_TESTLIB_TRACE and exports the factory only when TESTLIB_FACTORY is set (a
// factory that creates nothing).
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

void note(const char* what) {
#if defined(_WIN32)
    // The runtime's getenv does not see variables the test sets through the system.
    char file[1024];
    const DWORD n = GetEnvironmentVariableA("VIGIL_TESTLIB_TRACE", file, sizeof file);
    if (n == 0 || n >= sizeof file)
        return;
#else
    const char* file = std::getenv("VIGIL_TESTLIB_TRACE");
    if (file == nullptr)
        return;
#endif
    if (FILE* f = std::fopen(file, "ab")) {
        std::fprintf(f, "%s %s\n", what, TESTLIB_NAME);
        std::fclose(f);
    }
}

struct Presence {
    Presence() { note("load"); }
    ~Presence() { note("unload"); }
} g_presence;

}  // namespace

#if defined(TESTLIB_FACTORY)
#if defined(_WIN32)
extern "C" __declspec(dllexport) void* createMonitor(void*) {
#else
extern "C" __attribute__((visibility("default"))) void* createMonitor(void*) {
#endif
    return nullptr;
}
#endif
