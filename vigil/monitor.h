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

// On failure it has logged the cause and signalled and closed the initialisation event. config is
// the process's configuration object (main's, alive until main returns): the provider factory
// gets it, the cache its settings.
bool startMonitorProcess(const MonitorArguments& args, ProcessConfig& config);
void stopMonitorProcess();
void monitorControlWork();
