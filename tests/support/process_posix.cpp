#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "sync/shmobject_posix.h"
#include "testsupport.h"
#include "text/utf8.h"

extern char** environ;

namespace testsupport {

struct Child::Impl {
    pid_t pid = -1;
    bool reaped = false;
    int status = 0;

    // Reaps the child if it has ended; true when it has.
    bool poll(bool block) {
        if (reaped)
            return true;
        int st = 0;
        pid_t r;
        do {
            r = waitpid(pid, &st, block ? 0 : WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == pid) {
            reaped = true;
            status = st;
        }
        return reaped;
    }
};

Child::Child(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Child::~Child() {
    if (!impl_->poll(false))
        kill();
}

std::unique_ptr<Child> Child::start(const std::wstring& program,
                                    const std::vector<std::wstring>& args,
                                    const std::filesystem::path& stderrFile,
                                    const std::filesystem::path& stdoutFile) {
    std::vector<std::string> texts;
    texts.push_back(utf8::fromWide(program));
    for (const auto& a : args)
        texts.push_back(utf8::fromWide(a));
    std::vector<char*> argv;
    for (auto& t : texts)
        argv.push_back(t.data());
    argv.push_back(nullptr);

    // The child must not inherit the blocked signal mask of a test that registered handlers.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!stderrFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
    }
    if (!stdoutFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    auto impl = std::make_unique<Impl>();
    int r = posix_spawn(&impl->pid, texts[0].c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (r != 0)
        return nullptr;
    return std::unique_ptr<Child>(new Child(std::move(impl)));
}

int Child::wait(unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!impl_->poll(false)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(impl_->status))
        return WEXITSTATUS(impl_->status);
    return 128 + WTERMSIG(impl_->status);
}

void Child::kill() {
    if (impl_->reaped)
        return;
    ::kill(impl_->pid, SIGKILL);
    impl_->poll(true);
}

bool Child::terminateGently() {
    return ::kill(impl_->pid, SIGTERM) == 0;
}

uint32_t Child::pid() const {
    return static_cast<uint32_t>(impl_->pid);
}

bool Child::endedBySignal() const {
    return impl_->reaped && WIFSIGNALED(impl_->status);
}

bool runningUnderWine() {
    return false;
}

namespace {

std::string selfPath() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

constexpr char kPrivateMountsVariable[] = "VIGIL_TEST_PRIVATE_MOUNTS";

}  // namespace

std::wstring programPath(const wchar_t* baseName) {
    const std::string self = selfPath();
    return utf8::toWide(self.substr(0, self.rfind('/') + 1)) + baseName;
}

PrivateMounts privateMounts(std::string* why) {
    if (getenv(kPrivateMountsVariable) != nullptr)
        return PrivateMounts::Here;
    if (geteuid() != 0) {
        *why = "not root";
        return PrivateMounts::Unavailable;
    }
    const char* unshare = access("/usr/bin/unshare", X_OK) == 0 ? "/usr/bin/unshare"
                          : access("/bin/unshare", X_OK) == 0   ? "/bin/unshare"
                                                                : nullptr;
    if (unshare == nullptr) {
        *why = "no unshare program";
        return PrivateMounts::Unavailable;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    setenv(kPrivateMountsVariable, "1", 1);
    auto child = Child::start(
        utf8::toWide(unshare),
        {L"--mount", L"--propagation", L"private", utf8::toWide(selfPath()), utf8::toWide(filter)});
    unsetenv(kPrivateMountsVariable);
    if (!child) {
        *why = "unshare could not be started";
        return PrivateMounts::Unavailable;
    }
    const int code = child->wait(600000);
    EXPECT_EQ(code, 0) << "the test failed in its own mount namespace";
    return PrivateMounts::RanInChild;
}

bool mountTmpfs(const std::string& dir, const std::string& options) {
    if (getenv(kPrivateMountsVariable) == nullptr)
        return false;  // never on the machine's own mounts
    return mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

void setEnv(const wchar_t* name, const wchar_t* value) {
    const std::string n = utf8::fromWide(name);
    if (value == nullptr) {
        unsetenv(n.c_str());
    } else {
        setenv(n.c_str(), utf8::fromWide(value).c_str(), 1);
    }
}

std::string objectFile(const std::wstring& name) {
    return shmObjectDirectory() + "/" + shmFileName(name.c_str());
}

}  // namespace testsupport
