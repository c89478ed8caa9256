// Helpers shared by the tests: temporary directories, files, environment, child processes and
// polling for an expected state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory that is removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::wstring wide() const { return path_.wstring(); }

  private:
    std::filesystem::path path_;
};

// Makes dir the current directory while the object lives.
class InDirectory {
  public:
    explicit InDirectory(const std::filesystem::path& dir)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~InDirectory() { std::filesystem::current_path(previous_); }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

std::vector<uint8_t> readBytes(const std::filesystem::path& path);
std::string readText(const std::filesystem::path& path);
void writeText(const std::filesystem::path& path, const std::string& text);

// Sets (or with null, removes) an environment variable of this process, which children inherit.
void setEnv(const wchar_t* name, const wchar_t* value);

// Polls predicate every few milliseconds until it holds or timeoutMs passed.
bool pollUntil(const std::function<bool()>& predicate, unsigned timeoutMs = 30000);

// True when the Windows build runs under Wine (whose emulation of some services is partial).
bool runningUnderWine();

// Full path of a program built into the same folder as the running test.
std::wstring programPath(const wchar_t* baseName);

// A unique text for names of files, directories and named objects.
std::wstring uniqueName(const wchar_t* prefix);

// A child process.
class Child {
  public:
    // Starts program with the arguments (not including the program name), its standard error
    // appended to stderrFile and its standard output written to stdoutFile (emptied first) when
    // they are given. Null when it failed.
    static std::unique_ptr<Child> start(const std::wstring& program,
                                        const std::vector<std::wstring>& args,
                                        const std::filesystem::path& stderrFile = {},
                                        const std::filesystem::path& stdoutFile = {});
    ~Child();
    // Exit code, or -1 when the child did not end within timeoutMs.
    int wait(unsigned timeoutMs = 60000);
    // Ends the child at once (SIGKILL / TerminateProcess) and reaps it.
    void kill();
    // Sends the console-control signal of the platform (Linux: SIGTERM); false if unsupported.
    bool terminateGently();
    uint32_t pid() const;
    // True when the child ended because of a signal (Linux) — false on Windows.
    bool endedBySignal() const;

    struct Impl;

  private:
    explicit Child(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Runs program to its end; the exit code, or -1 on time-out.
int run(const std::wstring& program, const std::vector<std::wstring>& args,
        unsigned timeoutMs = 60000);

}  // namespace testsupport

namespace testsupport {

// Sends the process's log to a file of its own while the object lives.
class LogCapture {
  public:
    explicit LogCapture(const wchar_t* level = L"info");
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    // Switches the level (the file stays).
    void setLevel(const wchar_t* level);
    std::string text() const;
    bool has(const std::string& part) const { return text().find(part) != std::string::npos; }

  private:
    TempDir dir_;
};

}  // namespace testsupport

#if !defined(_WIN32)

namespace testsupport {

enum class PrivateMounts { Here, RanInChild, Unavailable };

// Linux, as root: runs the current test again in a child process with a mount namespace of its
// own (unshare --mount), where file systems can be mounted without touching the machine's, and
// reports the child's failure. Here in that child; RanInChild in the caller once the child has
// ended; Unavailable (with the reason in *why) where it cannot be done.
PrivateMounts privateMounts(std::string* why);
// Mounts a fresh tmpfs at dir with the mount options; only in a private mount namespace.
bool mountTmpfs(const std::string& dir, const std::string& options);
// The path of the file that holds the named object called name.
std::string objectFile(const std::wstring& name);

}  // namespace testsupport

// Runs the rest of the test in a private mount namespace (see privateMounts), or skips it.
#define VIGIL_TEST_IN_PRIVATE_MOUNTS()                                           \
    do {                                                                         \
        std::string vigilWhy;                                                    \
        switch (testsupport::privateMounts(&vigilWhy)) {                         \
            case testsupport::PrivateMounts::Unavailable:                        \
                GTEST_SKIP() << "needs a private mount namespace: " << vigilWhy; \
            case testsupport::PrivateMounts::RanInChild:                         \
                return;                                                          \
            case testsupport::PrivateMounts::Here:                               \
                break;                                                           \
        }                                                                        \
    } while (false)

#endif
