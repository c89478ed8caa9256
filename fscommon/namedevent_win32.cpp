#include <windows.h>

#include "namedevent.h"

struct NamedEvent::Impl {
    HANDLE handle;
};

NamedEvent::NamedEvent(std::unique_ptr<Impl> impl, bool alreadyExisted)
    : impl_(std::move(impl)), alreadyExisted_(alreadyExisted) {}

NamedEvent::~NamedEvent() {
    CloseHandle(impl_->handle);
}

std::unique_ptr<NamedEvent> NamedEvent::create(const wchar_t* name, bool manualReset,
                                               bool initialState) {
    HANDLE h = CreateEventW(nullptr, manualReset, initialState, name);
    if (h == nullptr)
        return nullptr;
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::make_unique<Impl>(Impl{h}), existed));
}

bool NamedEvent::set() {
    return SetEvent(impl_->handle) != 0;
}

bool NamedEvent::reset() {
    return ResetEvent(impl_->handle) != 0;
}

int NamedEvent::wait() {
    return WaitForSingleObject(impl_->handle, INFINITE) == WAIT_OBJECT_0 ? 0 : -21;
}

int NamedEvent::waitTimeout(unsigned ms) {
    switch (WaitForSingleObject(impl_->handle, ms)) {
        case WAIT_OBJECT_0:
            return 0;
        case WAIT_TIMEOUT:
            return -20;
        default:
            return -21;
    }
}
