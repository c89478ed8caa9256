// The monitored path list of the command line: entries separated by ";", "$local" for the
// roots of every fixed drive.
#pragma once

#include "system/drivehelper.h"
#include "text/monitoredpath.h"

// Appends the raw entries of pathList (every text before a ";", also an empty one; a final
// ";" adds no empty entry), each recursive.
void extractMonitoredPathList(const wchar_t* pathList, MonitoredPathList& list);

// Fills result (passed empty) with absolute directory paths on fixed drives, each ending with a
// separator (upper-cased where names ignore case), none equal to or below another. False, with
// result empty, when an entry cannot be resolved.
bool buildMonitoredPathList(const wchar_t* pathList, MonitoredPathList& result,
                            DriveSource source = DriveSource());
