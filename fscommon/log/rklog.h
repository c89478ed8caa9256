// The diagnostic log. Every module logs through the process's one RkLogWrapper:
//   traceMAX       every ordinary message (progress, warnings, errors)
//   traceMidEntry  the entry message of a function
//   traceMidExit   the exit message of a function
// Arguments: source line, module path ("vigil/vigil", "fscommon/cache", ...), bare function name,
// printf-style format, values. Wide text is passed with "%ls" or "%S" on both platforms.
//
// Backend: one line per message, "date time [thread] LEVEL module:line function: text".
// Destination from VIGIL_LOG (a file path, "stderr" or "off"; default: the program's default,
// see setDefaultFile), level from VIGIL_LOG_LEVEL ("error", "info" (default), "trace").
// The file is opened at the first line that passes the level. Only a regular file is written
// (no link followed, no FIFO or device); otherwise the lines go to stderr after one that says
// why. Concurrent calls never interleave within a line.
#pragma once

#include <cstdarg>
#include <functional>
#include <memory>
#include <string>

#if defined(__clang__)
#define RKLOG_PRINTF_CHECK __attribute__((format(printf, 5, 6)))
#elif defined(__GNUC__)
// gnu_printf: MinGW's plain printf format would check against the Microsoft runtime's.
#define RKLOG_PRINTF_CHECK __attribute__((format(gnu_printf, 5, 6)))
#else
#define RKLOG_PRINTF_CHECK
#endif

class LogSink;

class RkLogWrapper {
  public:
    RkLogWrapper();
    ~RkLogWrapper();
    RkLogWrapper(const RkLogWrapper&) = delete;
    RkLogWrapper& operator=(const RkLogWrapper&) = delete;

    void traceMAX(int line, const char* file, const char* function, const char* format,
                  ...) RKLOG_PRINTF_CHECK;
    void traceMidEntry(int line, const char* file, const char* function, const char* format,
                       ...) RKLOG_PRINTF_CHECK;
    void traceMidExit(int line, const char* file, const char* function, const char* format,
                      ...) RKLOG_PRINTF_CHECK;

    // The same operations with the values as a va_list, for callers that forward a message
    // (provider libraries reach the process's log through this). kind: 0 traceMAX,
    // 1 traceMidEntry, 2 traceMidExit.
    void vtrace(int kind, int line, const char* file, const char* function, const char* format,
                va_list args);

    // Backend control, not part of the tracing interface.
    // The file used when VIGIL_LOG is not set (stderr until a program chooses a file).
    void setDefaultFile(const wchar_t* path);
    // Reads VIGIL_LOG and VIGIL_LOG_LEVEL again (done once at start-up).
    void reconfigure();
    // Hands every traceMAX message that follows to listener as well (function name and text),
    // whatever the level and destination, until it is replaced or cleared with an empty one:
    // a tool shows its user the message a module wrote, such as a criteria error. The listener
    // must not log.
    using Listener = std::function<void(const char* function, const std::string& text)>;
    void setListener(Listener listener);

  private:
    enum class Op { Max, Entry, Exit };
    void write(Op op, int line, const char* file, const char* function, const char* format,
               va_list args);

    std::unique_ptr<LogSink> sink_;
};

// The process's log.
RkLogWrapper* getRkLogFs();

// Call-site helpers: each source file defines `static constexpr char kLogModule[]` with its
// module path. __func__ is the bare function name, without class.
#define LOG_TRACE(log, ...) (log)->traceMAX(__LINE__, kLogModule, __func__, __VA_ARGS__)
#define LOG_ENTRY(log, ...) (log)->traceMidEntry(__LINE__, kLogModule, __func__, __VA_ARGS__)
#define LOG_EXIT(log, ...) (log)->traceMidExit(__LINE__, kLogModule, __func__, __VA_ARGS__)
// The same with an explicit function name, where the Part names another one.
#define LOG_TRACE_AS(log, fn, ...) (log)->traceMAX(__LINE__, kLogModule, fn, __VA_ARGS__)
