#include "monitor.h"

#include "vigil.h"

// The monitor itself (provider, path list, cache, collector) is not built yet: start-up succeeds
// without doing anything and shut-down only does the process-level part. This is the place where
// the monitor will start and stop.
bool startMonitorProcess(const MonitorArguments&, ProcessConfig&) {
    return true;
}

void stopMonitorProcess() {
    closeSyncEvent();
    removeMonitorPID();
}

// Nothing to tear down while no cache exists.
void monitorControlWork() {}
