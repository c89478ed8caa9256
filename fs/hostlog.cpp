#include "hostlog.h"

#include "libraryos.h"

namespace {

HostTraceFunction hostTrace() {
    static const HostTraceFunction function = reinterpret_cast<HostTraceFunction>(
        libraryos::symbol(libraryos::mainProgram(), kHostTraceSymbol));
    return function;
}

}  // namespace

void HostLog::forward(int kind, int line, const char* file, const char* function,
                      const char* format, va_list args) {
    if (HostTraceFunction trace = hostTrace())
        trace(kind, line, file, function, format, args);
}

#define HOSTLOG_FORWARD(kind)                          \
    va_list args;                                      \
    va_start(args, format);                            \
    forward(kind, line, file, function, format, args); \
    va_end(args)

void HostLog::traceMAX(int line, const char* file, const char* function, const char* format, ...) {
    HOSTLOG_FORWARD(0);
}

void HostLog::traceMidEntry(int line, const char* file, const char* function, const char* format,
                            ...) {
    HOSTLOG_FORWARD(1);
}

void HostLog::traceMidExit(int line, const char* file, const char* function, const char* format,
                           ...) {
    HOSTLOG_FORWARD(2);
}

HostLog* getHostLog() {
    static HostLog log;
    return &log;
}
