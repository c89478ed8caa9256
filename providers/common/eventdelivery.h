// Hands a provider's events to the event queue and heals what gets lost on the way.
//
// When events are lost (the platform's notification queue overflowed, a watch could not be
// added, the event queue was full) the affected monitored root is marked: its later events are
// dropped until the pair REMOVED root, ADDED root is in the queue, which makes the collector drop
// and rescan the whole subtree. The pair goes in, all or nothing, before anything else as soon as
// the queue has room for it; a provider with a pending pair retries now and then (flushResyncs).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/eventbatch.h"
#include "fs/hostlog.h"

class EventQueue;

class EventDelivery {
  public:
    EventDelivery(HostLog* log, const char* owner) : log_(log), owner_(owner) {}

    // Attaches the queue, or detaches it with null: once that returns nothing more is appended.
    // Attaching forgets pending pairs (a newly attached consumer scans every root anyway).
    void setQueue(EventQueue* queue);
    // The paths the pairs report, one per root index.
    void setRoots(std::vector<std::wstring> rootPaths);

    // Appends the batch and clears it. Events of roots with a pending pair are dropped; when the
    // queue has no room, every root of the batch gets a pending pair.
    void deliver(EventBatch& batch);
    // Events of root were lost: logs why and marks the root for its pair.
    void lost(size_t root, const char* reason);
    // The root itself is gone (its REMOVED event follows): no pair for it any more.
    void rootGone(size_t root);
    bool resyncPending() const { return pendingCount_.load() > 0; }
    // Appends the pending pairs that fit.
    void flushResyncs();
    // How long a provider's thread may wait for news with batch in hand: until the batch is
    // due, else (with a pair pending) until the next try, else without limit (-1).
    int waitMs(const EventBatch& batch) const;
    // What a provider's thread does after a wait: delivers the batch when it is due, or tries
    // the pending pairs when there is no batch.
    void deliverDue(EventBatch& batch);
    int lossCount() const { return losses_.load(); }

    // For providers that may wait for the consumer (replay): appends events[0..count) all at
    // once, waiting while the queue is full. False when stopped() says so, the queue is detached,
    // or the events can never fit.
    bool deliverWaiting(const FsEvent* events, size_t count, const std::function<bool()>& stopped);

  private:
    // Called with mutex_ held.
    void markLocked(size_t root, const char* reason);
    void flushLocked();

    HostLog* log_;
    const char* owner_;
    std::mutex mutex_;
    EventQueue* queue_ = nullptr;
    std::vector<std::wstring> roots_;
    std::vector<bool> pending_;
    std::atomic<size_t> pendingCount_{0};
    std::atomic<int> losses_{0};
};
