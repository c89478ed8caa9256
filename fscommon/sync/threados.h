// Platform threads that are created suspended and started later, and a millisecond sleep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sync/namedsync.h"

class ThreadHandle {
  public:
    using Entry = int (*)(void* argument);

    // Creates a thread that will run entry(argument) once resumed; the thread does not run
    // before that. stackSize 0 takes the platform default. Null when it could not be created.
    static std::unique_ptr<ThreadHandle> createSuspended(size_t stackSize, Entry entry,
                                                         void* argument, uint32_t* threadId);
    // A thread that was never resumed ends without running its entry.
    ~ThreadHandle();
    ThreadHandle(const ThreadHandle&) = delete;
    ThreadHandle& operator=(const ThreadHandle&) = delete;

    bool resume();
    // Signaled when the thread has ended, Timeout, or Failed.
    WaitStatus wait(unsigned ms);

    struct Impl;

  private:
    explicit ThreadHandle(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Suspends the calling thread for ms milliseconds; 0 gives up the rest of its time slice.
void sleepMs(unsigned ms);
