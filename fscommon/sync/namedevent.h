// A named event shared between processes. The name is used as given (callers add "Global\"
// themselves).
#pragma once

#include <memory>

#include "sync/namedsync.h"

class NamedEvent {
  public:
    // Creates the event, or opens it when it already exists (existing events keep their reset
    // mode and state). Null when the platform call failed; the reason is sysinfo::lastError().
    static std::unique_ptr<NamedEvent> create(const wchar_t* name, bool manualReset,
                                              bool initialState);

    // True when the event existed before this call (error 183, already exists).
    bool alreadyExisted() const { return handle_->alreadyExisted(); }
    bool set() { return handle_->setEvent(); }
    bool reset() { return handle_->resetEvent(); }
    // 0 when signalled, -21 when the wait failed.
    int wait() { return waitTimeout(kWaitInfinite); }
    // 0 when signalled, -20 on time-out, -21 when the wait failed.
    int waitTimeout(unsigned ms);

  private:
    explicit NamedEvent(std::unique_ptr<NamedSyncHandle> handle) : handle_(std::move(handle)) {}

    std::unique_ptr<NamedSyncHandle> handle_;
};
