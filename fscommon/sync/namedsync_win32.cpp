#include <windows.h>

#include "sync/namedsync.h"

struct NamedSyncHandle::Impl {
    explicit Impl(HANDLE h) : handle(h) {}
    ~Impl() { CloseHandle(handle); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    HANDLE handle;
};

void NamedSyncHandle::ImplDeleter::operator()(Impl* impl) const {
    delete impl;
}

namespace {

// The handle a Create call returned, read together with its "already exists" report.
NamedSyncHandle::ImplPtr wrap(HANDLE h, bool* existed) {
    *existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (h == nullptr)
        return nullptr;
    return NamedSyncHandle::ImplPtr(new NamedSyncHandle::Impl(h));
}

}  // namespace

std::unique_ptr<NamedSyncHandle> NamedSyncHandle::createEvent(const wchar_t* name, bool manualReset,
                                                              bool initialState) {
    bool existed = false;
    auto impl = wrap(CreateEventW(nullptr, manualReset, initialState, name), &existed);
    return make(std::move(impl), existed);
}

std::unique_ptr<NamedSyncHandle> NamedSyncHandle::createMutex(const wchar_t* name) {
    bool existed = false;
    auto impl = wrap(CreateMutexW(nullptr, FALSE, name), &existed);
    return make(std::move(impl), existed);
}

std::unique_ptr<NamedSyncHandle> NamedSyncHandle::createSemaphore(const wchar_t* name,
                                                                  uint32_t initialCount,
                                                                  uint32_t maximumCount) {
    bool existed = false;
    auto impl = wrap(CreateSemaphoreW(nullptr, static_cast<LONG>(initialCount),
                                      static_cast<LONG>(maximumCount), name),
                     &existed);
    return make(std::move(impl), existed);
}

WaitStatus NamedSyncHandle::wait(unsigned ms) {
    switch (WaitForSingleObject(impl_->handle, ms)) {
        case WAIT_OBJECT_0:
            return WaitStatus::Signaled;
        case WAIT_ABANDONED:
            return WaitStatus::Abandoned;
        case WAIT_TIMEOUT:
            return WaitStatus::Timeout;
        default:
            return WaitStatus::Failed;
    }
}

bool NamedSyncHandle::setEvent() {
    return SetEvent(impl_->handle) != 0;
}

bool NamedSyncHandle::resetEvent() {
    return ResetEvent(impl_->handle) != 0;
}

bool NamedSyncHandle::releaseMutex() {
    return ReleaseMutex(impl_->handle) != 0;
}

bool NamedSyncHandle::releaseSemaphore() {
    return ReleaseSemaphore(impl_->handle, 1, nullptr) != 0;
}
