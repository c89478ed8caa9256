// The process entry of vigil: command line, the named stop and initialisation events, the
// single-instance rule, the process-ID file and the console control handler.
#pragma once

#include <string>

// Command line: vigil directoriesTable filesTable workingDirectory providerName pathList
// start|stop. Returns the exit code.
int vigilMain(int argc, char** argv);

// Name of a named event of a working directory: "Global\" + the upper-cased directory + suffix,
// backslashes and colons (and on Linux slashes) replaced by underscores.
std::wstring eventName(const wchar_t* workingDirectory, const wchar_t* suffix);

inline constexpr wchar_t kStopEventSuffix[] = L"_Vigil_Event";
inline constexpr wchar_t kInitEventSuffix[] = L"_Vigil_InitEvent";
inline constexpr wchar_t kPidFileName[] = L"mon_proc.id";

// Creates (or opens) the initialisation event of the working directory and sets it; the handle
// is kept until closeSyncEvent.
void signalSyncEvent(const wchar_t* workingDirectory);
void closeSyncEvent();
// Writes the 4-byte little-endian process identifier to pathName + separator + fileName.
bool createMonitorPID(const wchar_t* pathName, const wchar_t* fileName);
// Deletes the process-ID file written by createMonitorPID, if any.
bool removeMonitorPID();
// Console control handler; always returns false so that the default action ends the process.
bool consoleCtrlHandler(unsigned long controlType);
