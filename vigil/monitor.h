// The monitor that a "start" invocation runs between the single-instance check and the wait for
// the stop event, its shut-down, and its part of the console control handler.
#pragma once

#include <string>

struct MonitorArguments {
    std::wstring directoriesTable;
    std::wstring filesTable;
    std::wstring workingDirectory;
    std::string providerName;
    std::wstring pathList;
};

// On failure it has logged the cause and signalled and closed the initialisation event.
bool startMonitorProcess(const MonitorArguments& args);
void stopMonitorProcess();
void monitorControlWork();
