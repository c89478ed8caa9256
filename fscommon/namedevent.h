// A named event shared between processes: Windows CreateEventW, Linux the shared-memory object
// layer. The name is used as given (callers add "Global\" themselves).
#pragma once

#include <cstdint>
#include <memory>

class NamedEvent {
  public:
    // Creates the event, or opens it when it already exists (existing events keep their reset
    // mode and state). Null when the platform call failed; the reason is sysinfo::lastError().
    static std::unique_ptr<NamedEvent> create(const wchar_t* name, bool manualReset,
                                              bool initialState);
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    // True when the event existed before this call (error 183, already exists).
    bool alreadyExisted() const { return alreadyExisted_; }
    bool set();
    bool reset();
    // 0 when signalled, -21 when the wait failed.
    int wait();
    // 0 when signalled, -20 on time-out, -21 when the wait failed.
    int waitTimeout(unsigned ms);

    struct Impl;

  private:
    NamedEvent(std::unique_ptr<Impl> impl, bool alreadyExisted);

    std::unique_ptr<Impl> impl_;
    bool alreadyExisted_;
};
