// The inotify provider: one watch per directory under every monitored root (a root that is not
// recursive gets one watch), kept in step with directories that are created, moved in, moved out
// and removed; one thread reads the notifications and delivers them as events with full paths.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "common/providerbase.h"
#include "inotify/watchtable.h"

struct inotify_event;

class InotifyMonitor final : public ProviderBase {
  public:
    explicit InotifyMonitor(FsConfig* config);
    ~InotifyMonitor() override;

    int startMonitoring() override;
    int cleanup() override;
    int simulateLoss() override;

  private:
    struct Root {
        std::string path;  // bytes, without trailing "/" (except "/")
        bool recursive;
        bool active;
        int wd;
    };

    bool acceptRoot(const MonitoredPath& path) override;
    void wake() override;
    void run();
    void readNotifications(EventBatch& batch);
    void handle(const inotify_event& event, EventBatch& batch);
    // Watches dir and (for a recursive root) every directory below it. False when the watch
    // limit stopped it.
    bool watchTree(const std::string& dir, size_t root);
    void releaseSubtree(const std::string& dir);
    // After lost notifications: brings the root's watches in line with the disk and asks for
    // its rescan.
    void resync(size_t root, const char* reason, EventBatch& batch);
    void rootGone(size_t root, EventBatch& batch);

    int fd_ = -1;
    int wakeFd_ = -1;
    WatchTable watches_;
    std::vector<Root> rootState_;
    std::atomic<bool> simulateLoss_{false};
};
