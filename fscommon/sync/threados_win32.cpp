#include <windows.h>

#include <atomic>

#include "sync/threados.h"

namespace {

// Shared by the handle and its thread, so that either may go first.
struct Control {
    ThreadHandle::Entry entry;
    void* argument;
    std::atomic<bool> cancelled{false};
};

DWORD WINAPI threadMain(LPVOID raw) {
    std::shared_ptr<Control> control = std::move(*static_cast<std::shared_ptr<Control>*>(raw));
    delete static_cast<std::shared_ptr<Control>*>(raw);
    if (control->cancelled)
        return 0;
    return static_cast<DWORD>(control->entry(control->argument));
}

}  // namespace

struct ThreadHandle::Impl {
    HANDLE handle = nullptr;
    std::shared_ptr<Control> control;
    bool resumed = false;
};

ThreadHandle::ThreadHandle(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ThreadHandle::~ThreadHandle() {
    if (!impl_->resumed) {
        // Never started: let it end without running its entry.
        impl_->control->cancelled = true;
        ResumeThread(impl_->handle);
        WaitForSingleObject(impl_->handle, INFINITE);
    }
    CloseHandle(impl_->handle);
}

std::unique_ptr<ThreadHandle> ThreadHandle::createSuspended(size_t stackSize, Entry entry,
                                                            void* argument, uint32_t* threadId) {
    auto impl = std::make_unique<Impl>();
    impl->control = std::make_shared<Control>();
    impl->control->entry = entry;
    impl->control->argument = argument;
    auto* parameter = new std::shared_ptr<Control>(impl->control);
    DWORD id = 0;
    impl->handle = CreateThread(nullptr, stackSize, threadMain, parameter, CREATE_SUSPENDED, &id);
    if (impl->handle == nullptr) {
        delete parameter;
        return nullptr;
    }
    if (threadId)
        *threadId = id;
    return std::unique_ptr<ThreadHandle>(new ThreadHandle(std::move(impl)));
}

bool ThreadHandle::resume() {
    if (ResumeThread(impl_->handle) == static_cast<DWORD>(-1))
        return false;
    impl_->resumed = true;
    return true;
}

WaitStatus ThreadHandle::wait(unsigned ms) {
    switch (WaitForSingleObject(impl_->handle, ms)) {
        case WAIT_OBJECT_0:
            return WaitStatus::Signaled;
        case WAIT_TIMEOUT:
            return WaitStatus::Timeout;
        default:
            return WaitStatus::Failed;
    }
}

void sleepMs(unsigned ms) {
    Sleep(ms);
}
