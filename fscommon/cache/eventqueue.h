// Change events and the in-process queue that carries them from the provider's threads to the
// cache's event collector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "sync/win32sync.h"

inline constexpr uint32_t FS_ACTION_NONE = 0xA0;
inline constexpr uint32_t FS_ACTION_MODIFIED = 0xA1;
inline constexpr uint32_t FS_ACTION_ADDED = 0xA2;
inline constexpr uint32_t FS_ACTION_REMOVED = 0xA3;
inline constexpr uint32_t FS_ACTION_OLD_NAME = 0xA4;
inline constexpr uint32_t FS_ACTION_NEW_NAME = 0xA5;

inline constexpr int QUEUE_FAILED = -30;
inline constexpr int QUEUE_TIMEOUT = -31;

// One change: the full path of the entry and what happened to it.
struct FsEvent {
    FsEvent() = default;
    FsEvent(std::wstring eventPath, uint32_t eventAction)
        : path(std::move(eventPath)), action(eventAction) {}

    // Empty: no path and FS_ACTION_NONE; any other event is valid.
    bool isEmpty() const { return !path && action == FS_ACTION_NONE; }
    bool isValid() const { return !isEmpty(); }

    std::optional<std::wstring> path;
    uint32_t action = FS_ACTION_NONE;
};

// First-in first-out queue of events. A semaphore counts the listed events (at most 65535) and
// a mutex guards the list; both are named after the queue. One consumer takes events with get;
// any number of producer threads append.
class EventQueue {
  public:
    // The semaphore and mutex are named name + "Sem" and name + "Mtx", followed by the process
    // id and a number of this process's queues, so that queues of the same name in two monitor
    // processes (or in one) never share their count or their lock.
    explicit EventQueue(const wchar_t* name);
    virtual ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // The front event, waiting up to timeoutMs for one; an empty event on failure, with
    // lastError() QUEUE_TIMEOUT (nothing came in time) or QUEUE_FAILED.
    FsEvent get(unsigned timeoutMs);
    int lastError() const { return lastError_; }

    // Producer side: under the queue mutex, appends copies of events[0..count) at the back and
    // releases the semaphore once per event, so that every listed event has its count. False,
    // with none of them listed, when the queue has no room for all of them; false also when its
    // objects fail (then the events before the failure are listed). Virtual so that a provider
    // library reaches the host's code through the object it was handed.
    virtual bool append(const FsEvent* events, size_t count);
    bool append(const FsEvent& event) { return append(&event, 1); }

    // False when the semaphore or the mutex could not be created.
    bool valid() const;

  private:
    std::unique_ptr<SyncObject> semaphore_;
    std::unique_ptr<SyncObject> mutex_;
    std::deque<FsEvent> list_;
    int lastError_ = 0;
};
