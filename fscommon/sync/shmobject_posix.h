// Named objects shared between processes on Linux: one small shared-memory file per object in a
// per-user directory (mode 0700, files 0600, owner and type checked, never followed through a
// symbolic link). An object exists exactly while some handle is open: every handle holds a
// shared OFD lock on byte 1 of its file; the opener that can lock byte 1 exclusively is alone
// and creates (initialises) the state. Byte 0 serialises openers and closers, so a last holder
// can remove the file without racing a new opener. A process that dies drops its locks.
//
// The directory is "vigil-<uid>" in /dev/shm (or /tmp without it). When something else stands
// there (another user may create that name first), the objects go to ".vigil-objects-<host>" in
// the user's home directory from the password database instead, and once that exists every
// process of the user keeps using it, so all of them always reach the same choice.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

enum class ShmKind : uint32_t { Event = 1, Mutex = 2, Semaphore = 3 };

class ShmObject {
  public:
    // Opens the object called name (a "Global\" or "Local\" prefix, in any case, names the same
    // object as none), creating it when no handle is open. init runs on the zeroed state of a new
    // object. Null on failure, with the reason in sysinfo::lastError() (5 for a refused file or
    // directory, 6 for an object of another kind, 32 when another process keeps the file locked,
    // 112 when no memory can be reserved for it); the cause is logged.
    static std::unique_ptr<ShmObject> open(const wchar_t* name, ShmKind kind, size_t stateSize,
                                           const std::function<void(void*)>& init);
    ~ShmObject();
    ShmObject(const ShmObject&) = delete;
    ShmObject& operator=(const ShmObject&) = delete;

    void* state() const { return state_; }
    // True when this handle created the object.
    bool created() const { return created_; }
    // True when the file has lost its name (someone removed it, as systemd's RemoveIPC does at
    // log-out): openers by name no longer reach this object.
    bool removed() const;
    // Leaves the memory mapped when the handle goes (for state that outside lists still point
    // into, such as a robust mutex its holder has not released).
    void keepMapped() { keepMapped_ = true; }

  private:
    ShmObject(int dirFd, int fd, std::string fileName, void* map, void* state, bool created)
        : dirFd_(dirFd),
          fd_(fd),
          fileName_(std::move(fileName)),
          map_(map),
          state_(state),
          created_(created) {}

    int dirFd_;
    int fd_;
    std::string fileName_;
    void* map_;
    void* state_;
    bool created_;
    bool keepMapped_ = false;
};

// Looked at about once a second by a watchdog thread of the process (started by the first
// shmWatch), e.g. to put back an object whose file was removed.
class ShmWatched {
  public:
    virtual void check() = 0;

  protected:
    ~ShmWatched() = default;
};
void shmWatch(ShmWatched* watched);
// When it returns, check() of watched is not running and will not run again.
void shmUnwatch(ShmWatched* watched);

// The per-user directory that holds the object files (created when missing); empty when there
// is none that can be used.
std::string shmObjectDirectory();
// The file name an object name maps to (path characters escaped, long names shortened with a
// hash of the whole name).
std::string shmFileName(const wchar_t* name);

// Futex wait on a word of shared memory: returns 0 when woken or when the word no longer
// holds expected, ETIMEDOUT when the CLOCK_MONOTONIC deadline passed (null: no deadline),
// EINTR on a signal, or another errno on failure.
int shmFutexWait(std::atomic<uint32_t>* word, uint32_t expected, const struct timespec* deadline);
void shmFutexWake(std::atomic<uint32_t>* word, int count);
// The CLOCK_MONOTONIC time ms milliseconds from now.
struct timespec shmDeadlineAfter(unsigned ms);
// True when the CLOCK_MONOTONIC deadline has passed.
bool shmDeadlinePassed(const struct timespec& deadline);
