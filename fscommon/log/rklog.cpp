#include "log/rklog.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "system/osfile.h"
#include "system/sysinfo.h"
#include "text/logformat.h"

namespace {

constexpr char kLogModule[] = "fscommon/rklog";

enum class Level { Error = 0, Info = 1, Trace = 2 };

// Words that mark a message as a failure report, so that the "error" level keeps it.
constexpr std::array<std::string_view, 12> kFailureWords = {
    "unable", "cannot",       "could not",        "failed",        "fails",   "error",
    "bad ",   "must specify", "another instance", "not monitored", "invalid", "too long",
};

bool containsNoCase(std::string_view text, std::string_view word) {
    if (word.size() > text.size())
        return false;
    for (size_t i = 0; i + word.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < word.size()) {
            char c = text[i + k];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != word[k])
                break;
            ++k;
        }
        if (k == word.size())
            return true;
    }
    return false;
}

bool reportsFailure(const char* format) {
    if (format == nullptr)
        return false;
    for (std::string_view w : kFailureWords) {
        if (containsNoCase(format, w))
            return true;
    }
    return false;
}

std::wstring lowerAscii(std::wstring s) {
    for (wchar_t& c : s) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return s;
}

std::string timestamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    sysinfo::localTime(t, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms));
    return buf;
}

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatLogMessage(format, args);
    va_end(args);
    return text;
}

// One finished line: "date time [thread] LEVEL module:line function: text".
std::string formatLine(Level level, int line, const char* file, const char* function,
                       std::string text) {
    static constexpr const char* kLevelNames[] = {"ERROR", "INFO ", "TRACE"};
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    char head[96];
    std::snprintf(head, sizeof head, " [%llu] %s ",
                  static_cast<unsigned long long>(sysinfo::currentThreadId()),
                  kLevelNames[static_cast<int>(level)]);
    std::string out = timestamp();
    out += head;
    out += file ? file : "?";
    out += ':';
    out += std::to_string(line);
    out += ' ';
    out += function ? function : "?";
    out += ": ";
    out += text;
    out += '\n';
    return out;
}

}  // namespace

// Where lines go and which ones are kept. One mutex makes every line a single write. The
// destination is opened at the first line that passes the level, so that a run that logs
// nothing leaves no file behind.
class LogSink {
  public:
    LogSink() { configure(); }

    void configure() {
        std::lock_guard<std::mutex> lock(mutex_);
        Level level = Level::Info;
        if (auto lv = sysinfo::getEnv(L"VIGIL_LOG_LEVEL")) {
            std::wstring v = lowerAscii(*lv);
            if (v == L"error")
                level = Level::Error;
            else if (v == L"trace")
                level = Level::Trace;
        }
        level_ = level;
        destination_ = sysinfo::getEnv(L"VIGIL_LOG");
        closeDestination();
    }

    void setDefaultFile(const wchar_t* path) {
        std::lock_guard<std::mutex> lock(mutex_);
        defaultFile_ = path ? path : L"";
        if (!destination_)
            closeDestination();
    }

    bool wants(Level level) const { return level <= level_; }

    void setListener(RkLogWrapper::Listener listener) {
        std::lock_guard<std::mutex> lock(listenerMutex_);
        listener_ = std::move(listener);
        hasListener_ = static_cast<bool>(listener_);
    }

    // Hands the message to the listener, if there is one; args stay usable for the caller.
    void notify(const char* function, const char* format, va_list args) {
        if (!hasListener_)
            return;
        std::lock_guard<std::mutex> lock(listenerMutex_);
        if (!listener_)
            return;
        va_list copy;
        va_copy(copy, args);
        const std::string text = formatLogMessage(format, copy);
        va_end(copy);
        listener_(function, text);
    }

    void writeLine(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!opened_)
            open();
        out_.write(line.data(), line.size());
    }

  private:
    // Called with the mutex held.
    void closeDestination() {
        out_ = OsFile();
        opened_ = false;
    }

    // Called with the mutex held. A file that cannot be used safely is not written: the lines
    // go to stderr, after one that says why.
    void open() {
        opened_ = true;
        const std::wstring& dest = destination_ ? *destination_ : defaultFile_;
        const std::wstring lower = lowerAscii(dest);
        if (lower == L"off")
            return;
        if (!dest.empty() && lower != L"stderr") {
            FileProblem problem = FileProblem::None;
            out_ = OsFile::openAppend(dest.c_str(), &problem);
            if (out_.valid())
                return;
            const uint32_t error = sysinfo::lastError();
            out_ = OsFile::standardError();
            const std::string why = formatLine(
                Level::Error, __LINE__, kLogModule, "open",
                formatText("RkLogWrapper::open - cannot use [%ls] as the log (%s); logging to "
                           "stderr\n",
                           dest.c_str(), describeFileProblem(problem, error).c_str()));
            out_.write(why.data(), why.size());
            return;
        }
        out_ = OsFile::standardError();
    }

    std::mutex mutex_;
    std::atomic<Level> level_{Level::Info};
    // Separate from mutex_, so that the listener never waits for a slow destination.
    std::mutex listenerMutex_;
    std::atomic<bool> hasListener_{false};
    RkLogWrapper::Listener listener_;
    std::optional<std::wstring> destination_;
    std::wstring defaultFile_;
    OsFile out_;
    bool opened_ = false;
};

RkLogWrapper::RkLogWrapper() : sink_(std::make_unique<LogSink>()) {}

RkLogWrapper::~RkLogWrapper() = default;

void RkLogWrapper::setDefaultFile(const wchar_t* path) {
    sink_->setDefaultFile(path);
}

void RkLogWrapper::reconfigure() {
    sink_->configure();
}

void RkLogWrapper::setListener(Listener listener) {
    sink_->setListener(std::move(listener));
}

void RkLogWrapper::write(Op op, int line, const char* file, const char* function,
                         const char* format, va_list args) {
    if (op == Op::Max)
        sink_->notify(function, format, args);
    Level level = op == Op::Max ? Level::Info : Level::Trace;
    if (reportsFailure(format))
        level = Level::Error;
    if (!sink_->wants(level))
        return;

    sink_->writeLine(formatLine(level, line, file, function, formatLogMessage(format, args)));
}

void RkLogWrapper::vtrace(int kind, int line, const char* file, const char* function,
                          const char* format, va_list args) {
    const Op op = kind == 1 ? Op::Entry : kind == 2 ? Op::Exit : Op::Max;
    write(op, line, file, function, format, args);
}

#define RKLOG_FORWARD(op)                          \
    va_list args;                                  \
    va_start(args, format);                        \
    write(op, line, file, function, format, args); \
    va_end(args)

void RkLogWrapper::traceMAX(int line, const char* file, const char* function, const char* format,
                            ...) {
    RKLOG_FORWARD(Op::Max);
}

void RkLogWrapper::traceMidEntry(int line, const char* file, const char* function,
                                 const char* format, ...) {
    RKLOG_FORWARD(Op::Entry);
}

void RkLogWrapper::traceMidExit(int line, const char* file, const char* function,
                                const char* format, ...) {
    RKLOG_FORWARD(Op::Exit);
}

RkLogWrapper* getRkLogFs() {
    // Never destroyed: threads may still log while the process ends.
    static RkLogWrapper* log = new RkLogWrapper();
    return log;
}
