#include <windows.h>

#include "namedsync.h"

struct NamedSyncHandle::Impl {
    HANDLE handle;
};

namespace {

// The handle a Create call returned, read together with its "already exists" report.
std::unique_ptr<NamedSyncHandle::Impl> wrap(HANDLE h, bool* existed) {
    *existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (h == nullptr)
        return nullptr;
    return std::make_unique<NamedSyncHandle::Impl>(NamedSyncHandle::Impl{h});
}

}  // namespace

NamedSyncHandle::NamedSyncHandle(std::unique_ptr<Impl> impl, bool alreadyExisted)
    : impl_(std::move(impl)), alreadyExisted_(alreadyExisted) {}

std::unique_ptr<NamedSyncHandle> NamedSyncHandle::make(std::unique_ptr<Impl> impl,
                                                       bool alreadyExisted) {
    if (!impl)
        return nullptr;
    return std::unique_ptr<NamedSyncHandle>(new NamedSyncHandle(std::move(impl), alreadyExisted));
}

NamedSyncHandle::~NamedSyncHandle() {
    CloseHandle(impl_->handle);
}

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
