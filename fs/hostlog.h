// How a provider library logs: through the log of the program that loaded it.
//
// The program exports one C function, "vigilHostTrace" (fs_loader.cpp defines it, so every
// program that can load a provider has it), and the library looks it up at run time among the
// main program's exported symbols (Windows: GetModuleHandle(NULL) and GetProcAddress; Linux:
// dlsym(RTLD_DEFAULT), the executable being linked with ENABLE_EXPORTS). Together with the inline
// FsProvider and the virtual EventQueue::append this leaves a provider library without any
// link-time dependency on the executable: a Windows DLL that imported from vigil.exe could not be
// loaded into a test program, and one that linked its own copy of the log would write past the
// process's log.
#pragma once

#include <cstdarg>

// For the LOG_* call-site macros and the format check; a provider never calls getRkLogFs (the
// build checks that no provider library contains the process's log).
#include "log/rklog.h"

// Exports a C function from the executable or library that defines it.
#if defined(_WIN32)
#define VIGIL_C_EXPORT extern "C" __declspec(dllexport)
#else
#define VIGIL_C_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// kind: 0 ordinary message, 1 entry, 2 exit (as RkLogWrapper::vtrace).
using HostTraceFunction = void (*)(int kind, int line, const char* module, const char* function,
                                   const char* format, va_list args);
inline constexpr char kHostTraceSymbol[] = "vigilHostTrace";

// The log as a provider library sees it: the operations of RkLogWrapper, so the LOG_TRACE,
// LOG_ENTRY and LOG_EXIT macros work on it. Messages are dropped when the program that loaded the
// library exports no log.
class HostLog {
  public:
    void traceMAX(int line, const char* file, const char* function, const char* format,
                  ...) RKLOG_PRINTF_CHECK;
    void traceMidEntry(int line, const char* file, const char* function, const char* format,
                       ...) RKLOG_PRINTF_CHECK;
    void traceMidExit(int line, const char* file, const char* function, const char* format,
                      ...) RKLOG_PRINTF_CHECK;

  private:
    void forward(int kind, int line, const char* file, const char* function, const char* format,
                 va_list args);
};

// The library's log.
HostLog* getHostLog();
