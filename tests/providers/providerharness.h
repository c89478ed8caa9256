// A provider loaded through the loader, with an event queue of its own that the test drains.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cache/eventqueue.h"
#include "fs/changemonitor.h"
#include "fs/fsprovider.h"
#include "fs/processconfig.h"

struct SeenEvent {
    uint32_t action;
    std::wstring path;
};

class ProviderHarness {
  public:
    // Loads the provider with the configuration the process has (vigil.ini beside the test).
    explicit ProviderHarness(const char* name);
    ~ProviderHarness();

    ChangeMonitor& monitor() { return *monitor_; }
    FsProvider& provider() { return dynamic_cast<FsProvider&>(*monitor_); }
    EventQueue& queue() { return *queue_; }

    int addRoot(const std::wstring& path, bool recursive = true);
    // setEventQueue and startMonitoring.
    void start();
    // Detaches and destroys the queue: anything the provider appended later would touch freed
    // memory.
    void dropQueue();

    // Takes everything queued so far into seen.
    void drain();
    // Drains until predicate holds for seen, up to timeoutMs.
    bool waitFor(const std::function<bool()>& predicate, unsigned timeoutMs = 30000);
    // Index of the first event with action and path at or after from, or npos.
    size_t find(uint32_t action, const std::wstring& path, size_t from = 0) const;
    bool waitForEvent(uint32_t action, const std::wstring& path, size_t from = 0);
    std::string describe() const;

    std::vector<SeenEvent> seen;

  private:
    ProcessConfig config_;
    std::unique_ptr<ChangeMonitor> monitor_;
    std::unique_ptr<EventQueue> queue_;
};
