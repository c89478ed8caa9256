// The events a provider collected since it last delivered, each with the index of the monitored
// root it belongs to. A batch is due a short window after the last one was delivered (at once
// when that was longer ago), or as soon as it is full: a single change is not held back, and a
// burst goes out in one delivery per window.
// Repeated MODIFIED events of one path within it are folded into the first while no other event
// of that path came between: the consumer reads the entry's state when it takes the event, which
// is after the batch was delivered, so the first one already shows the last change.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "cache/eventqueue.h"

struct RootEvent {
    size_t root;
    FsEvent event;
};

class EventBatch {
  public:
    // How long a batch collects after the last delivery before it is due, and how many events
    // make it due at once.
    static constexpr std::chrono::milliseconds kWindow{20};
    static constexpr size_t kMaxEvents = 4096;

    void add(size_t root, uint32_t action, std::wstring path);
    // True when the batch has events and its window has passed or it is full.
    bool due() const;
    // Milliseconds until the batch is due (0 when it is), or -1 when it is empty.
    int msUntilDue() const;
    bool empty() const { return events_.empty(); }
    size_t size() const { return events_.size(); }
    std::vector<RootEvent>& events() { return events_; }
    void clear();

  private:
    std::vector<RootEvent> events_;
    std::chrono::steady_clock::time_point dueAt_;
    // When the last batch was emptied.
    std::chrono::steady_clock::time_point clearedAt_;
    // Paths whose latest event in the batch is a MODIFIED.
    std::unordered_set<std::wstring> modified_;
};
