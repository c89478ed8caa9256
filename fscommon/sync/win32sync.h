// Named synchronisation objects shared between processes, and threads that run a Runnable.
// Kernel-object names go into the global namespace unless they name a namespace themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "log/rklog.h"
#include "sync/namedsync.h"
#include "sync/threados.h"

inline constexpr int SYNC_TIMEOUT = -20;
inline constexpr int SYNC_FAILED = -21;
inline constexpr int THREAD_CREATE_FAILED = -1;
inline constexpr int THREAD_RESUME_FAILED = -2;
inline constexpr int THREAD_WAIT_FAILED = -4;
inline constexpr int THREAD_WAIT_TIMEOUT = -5;

class SyncObject {
  public:
    virtual bool release() = 0;
    // 0, SYNC_TIMEOUT or SYNC_FAILED.
    virtual int waitTimeout(unsigned ms) = 0;
    // 0 or SYNC_FAILED.
    virtual int wait() = 0;
    virtual ~SyncObject() = default;

    // True when the object did not exist before this handle was made.
    bool created = false;

  protected:
    explicit SyncObject(std::unique_ptr<NamedSyncHandle> handle);
    // Waits on the handle; without one the wait fails as it does on an invalid handle.
    WaitStatus waitHandle(unsigned ms);

    // Null when the platform call failed: every wait then fails.
    std::unique_ptr<NamedSyncHandle> handle_;
    RkLogWrapper* log_;
};

// Counting semaphore, initial count 0, maximum 65535; release adds 1.
class Win32Semaphore : public SyncObject {
  public:
    static constexpr uint32_t kMaximumCount = 65535;
    explicit Win32Semaphore(const wchar_t* name);
    bool release() override;
    int waitTimeout(unsigned ms) override;
    int wait() override;
};

// Recursive mutex, created not owned. A wait that finds the mutex abandoned by an owner that
// ended without releasing it acquires it and succeeds.
class Win32Mutex : public SyncObject {
  public:
    explicit Win32Mutex(const wchar_t* name);
    bool release() override;
    int waitTimeout(unsigned ms) override;
    int wait() override;
};

class Runnable {
  public:
    virtual ~Runnable() = default;
    virtual void run() = 0;
};

class Thread {
  public:
    // runnable is not owned; a thread without one ends with THREAD_RESUME_FAILED.
    explicit Thread(Runnable* runnable, size_t stackSize = 0)
        : runnable_(runnable), stackSize_(stackSize) {}
    // Owners hold threads through unique_ptr<Thread>; the destructor closes the handle.
    virtual ~Thread() = default;

    // Creates the platform thread suspended: 0 or THREAD_CREATE_FAILED.
    virtual int create();
    // Creates the thread if needed, then resumes it: 0, the create result, or
    // THREAD_RESUME_FAILED.
    virtual int start();
    // 0 when the thread ended, THREAD_WAIT_TIMEOUT or THREAD_WAIT_FAILED.
    virtual int waitTimeout(unsigned ms);
    virtual int wait();

    uint32_t threadId() const { return threadId_; }
    bool hasHandle() const { return handle_ != nullptr; }

  private:
    static int entry(void* runnable);

    Runnable* runnable_;
    size_t stackSize_;
    uint32_t threadId_ = 0xFFFFFFFF;
    std::unique_ptr<ThreadHandle> handle_;
};

// Factories: null when the name is missing. The name is used as given when objectNamespace is
// not 0, else with the "Global\" prefix. The object is returned even when the platform call
// failed; its waits then fail.
std::unique_ptr<SyncObject> createSemaphore(const wchar_t* name);
std::unique_ptr<SyncObject> createMutex(const wchar_t* name);
std::unique_ptr<Thread> createThread(Runnable* runnable);

// "Global\" + name; nothing for a missing name.
std::optional<std::wstring> addGlobalPrefix(const wchar_t* name);
// 3 for a "Global\" name, 2 for a "Local\" name (any case), 1 for another name with a
// backslash, 0 for a name without one or a missing name.
int objectNamespace(const wchar_t* name);
