// The monitor object of a provider library as the system drives it. The factory "createMonitor"
// of the library returns one; main owns it and destroys it through the virtual destructor.
//
// Order of use: addPath for every monitored path (main); then, at cache start, setEventQueue,
// startMonitoring, getMonitoredPaths; at cache stop, stopMonitoring, cleanup, setEventQueue(null);
// finally the destructor. Results are 0 for success unless noted.
#pragma once

#include "text/monitoredpath.h"

class EventQueue;

class ChangeMonitor {
  public:
    // Takes the first two slots (the second is the deleting form, which the system does not
    // call by itself).
    virtual ~ChangeMonitor() = default;
    // 0 when monitoring started; anything else makes the cache's start fail.
    virtual int startMonitoring() = 0;
    virtual int stopMonitoring() = 0;
    // The queue the monitor puts its events into, or null to detach it: once this returns with
    // null, nothing more is appended.
    virtual int setEventQueue(EventQueue* queue) = 0;
    // Registers a path (owned by the caller; the monitor keeps a copy). -1 when it will not be
    // monitored; any other value means accepted.
    virtual int addPath(const MonitoredPath* path) = 0;
    virtual int cleanup() = 0;
    // Appends the accepted paths to paths (given empty); the cache scans each of them.
    virtual int getMonitoredPaths(MonitoredPathList* paths) = 0;
};

class FsConfig;

// The factory a provider library exports under the name "createMonitor": the new monitor object,
// or null on failure.
using CreateMonitorFunction = ChangeMonitor* (*)(FsConfig* config);
inline constexpr char kCreateMonitorSymbol[] = "createMonitor";
