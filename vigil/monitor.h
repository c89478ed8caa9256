// The monitor that a "start" invocation runs between the single-instance check and the wait for
// the stop event, its shut-down, and its part of the console control handler.
#pragma once

#include <string>

#include "fs/processconfig.h"

struct MonitorArguments {
    std::wstring directoriesTable;
    std::wstring filesTable;
    std::wstring workingDirectory;
    std::string providerName;
    std::wstring pathList;
};

// Loads the provider, registers the monitored paths with it, creates the cache and starts
// monitoring. On failure it has logged the cause, signalled and closed the initialisation event
// and released what it built (no cache files stay). config is the process's configuration object
// (main's, alive until main returns): the provider factory gets it, the cache config.settings.
bool startMonitorProcess(const MonitorArguments& args, ProcessConfig& config);
// createMonitorPID for a started monitor, unless a console control event has come (its handler
// removes the file).
bool writeMonitorPID(const wchar_t* workingDirectory);
// Stops monitoring, deletes the process-ID file, tears the cache down (unless the control
// handler did) and releases the monitor.
void stopMonitorProcess();
// The console control handler's part: stops the monitor, closes and deletes the cache and the
// process-ID file. Any thread; nothing while no cache exists. The process ends afterwards.
void monitorControlWork();
