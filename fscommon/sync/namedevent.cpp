#include "sync/namedevent.h"

std::unique_ptr<NamedEvent> NamedEvent::create(const wchar_t* name, bool manualReset,
                                               bool initialState) {
    auto handle = NamedSyncHandle::createEvent(name, manualReset, initialState);
    if (!handle)
        return nullptr;
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(handle)));
}

int NamedEvent::waitTimeout(unsigned ms) {
    switch (handle_->wait(ms)) {
        case WaitStatus::Signaled:
        case WaitStatus::Abandoned:
            return 0;
        case WaitStatus::Timeout:
            return -20;
        default:
            return -21;
    }
}
