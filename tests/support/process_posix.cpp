#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

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
                                    const std::vector<std::wstring>& args) {
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
    auto impl = std::make_unique<Impl>();
    int r = posix_spawn(&impl->pid, texts[0].c_str(), nullptr, &attr, argv.data(), environ);
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

std::wstring programPath(const wchar_t* baseName) {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string self(buf, n > 0 ? static_cast<size_t>(n) : 0);
    std::string dir = self.substr(0, self.rfind('/') + 1);
    return utf8::toWide(dir) + baseName;
}

void setEnv(const wchar_t* name, const wchar_t* value) {
    const std::string n = utf8::fromWide(name);
    if (value == nullptr) {
        unsetenv(n.c_str());
    } else {
        setenv(n.c_str(), utf8::fromWide(value).c_str(), 1);
    }
}

}  // namespace testsupport
