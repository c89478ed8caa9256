// What the provider libraries share: the monitored roots, the event queue and the delivery of
// events with loss healing (EventDelivery). A provider adds how it watches and its thread.
#pragma once

#include <mutex>
#include <string>

#include "common/eventdelivery.h"
#include "common/workerthread.h"
#include "fs/changemonitor.h"
#include "fs/fsconfig.h"
#include "fs/fsprovider.h"
#include "fs/hostlog.h"

class ProviderBase : public ChangeMonitor, public FsProvider {
  public:
    ~ProviderBase() override = default;

    // Ends the provider's thread.
    int stopMonitoring() override;
    // Null detaches the queue after stopping the provider's thread.
    int setEventQueue(EventQueue* queue) override;
    // -1 for a missing path, one the provider cannot watch, or any path while monitoring runs.
    int addPath(const MonitoredPath* path) override;
    int getMonitoredPaths(MonitoredPathList* paths) override;

    const char* providerName() const override { return name_; }
    int lossCount() const override { return delivery_.lossCount(); }
    int shutdown(const FsConfig* config) override;
    int holdEvents(bool hold) override;

    // The path a root's own events carry: its text without a trailing separator, unless it is a
    // drive root ("/", "C:\").
    static std::wstring rootEventPath(const std::wstring& root);

  protected:
    ProviderBase(const char* name, FsConfig* config);

    // Whether the provider can watch path; it logs why not.
    virtual bool acceptRoot(const MonitoredPath& path) = 0;
    // Wakes the provider's thread from its wait, to see a stop or hold request.
    virtual void wake() = 0;

    HostLog* log_;
    FsConfig* config_;
    EventDelivery delivery_;
    // Accepted roots, in the order they were added.
    MonitoredPathList roots_;
    // Serialises start, stop and clean-up, which the main thread and the console control
    // handler may call.
    std::recursive_mutex controlMutex_;
    // Runs while monitoring runs.
    WorkerThread worker_;

  private:
    const char* name_;
};

// The factory every provider library exports; nothing is thrown across the library's edge.
#define VIGIL_PROVIDER_FACTORY(Monitor)                             \
    VIGIL_C_EXPORT ChangeMonitor* createMonitor(FsConfig* config) { \
        try {                                                       \
            return new Monitor(config);                             \
        } catch (...) {                                             \
            return nullptr;                                         \
        }                                                           \
    }
