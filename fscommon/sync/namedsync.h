// Platform handles of named events, mutexes and semaphores shared between processes (Windows:
// the kernel objects; Linux: the shared-memory object layer). Only translation lives here;
// result codes and messages belong to the callers.
#pragma once

#include <cstdint>
#include <memory>

enum class WaitStatus { Signaled, Abandoned, Timeout, Failed };

inline constexpr unsigned kWaitInfinite = 0xFFFFFFFF;

class NamedSyncHandle {
  public:
    // Create the object or open the existing one of that name; null when the platform call
    // failed (the reason is sysinfo::lastError()). The name is used exactly as given.
    static std::unique_ptr<NamedSyncHandle> createEvent(const wchar_t* name, bool manualReset,
                                                        bool initialState);
    // A mutex that nobody owns yet; recursive, and abandoned when its owner ends.
    static std::unique_ptr<NamedSyncHandle> createMutex(const wchar_t* name);
    static std::unique_ptr<NamedSyncHandle> createSemaphore(const wchar_t* name,
                                                            uint32_t initialCount,
                                                            uint32_t maximumCount);
    ~NamedSyncHandle() = default;
    NamedSyncHandle(const NamedSyncHandle&) = delete;
    NamedSyncHandle& operator=(const NamedSyncHandle&) = delete;

    // True when the object existed before (error 183, already exists).
    bool alreadyExisted() const { return alreadyExisted_; }
    // Waits up to ms milliseconds (kWaitInfinite: no limit).
    WaitStatus wait(unsigned ms);
    bool setEvent();
    bool resetEvent();
    // Fails when the calling thread does not own the mutex.
    bool releaseMutex();
    // Fails, leaving the count alone, when the count would pass the maximum.
    bool releaseSemaphore();

    // The platform's object; it closes itself when destroyed.
    struct Impl;
    struct ImplDeleter {
        void operator()(Impl* impl) const;
    };
    using ImplPtr = std::unique_ptr<Impl, ImplDeleter>;

  private:
    NamedSyncHandle(ImplPtr impl, bool alreadyExisted);
    // The handle for impl, or null when there is none.
    static std::unique_ptr<NamedSyncHandle> make(ImplPtr impl, bool alreadyExisted);

    ImplPtr impl_;
    bool alreadyExisted_;
};
