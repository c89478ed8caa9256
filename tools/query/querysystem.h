// What vigil-query needs of the platform beyond the shared helpers: its arguments and output in
// UTF-8, and whether the process named in a monitor's process-ID file still runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace querysystem {

// The command line as UTF-8 texts, the program's name first. Windows reads the wide command
// line (the narrow one is in the ANSI code page); Linux takes argv as it is.
std::vector<std::string> arguments(int argc, char** argv);

// Standard output and error take bytes as written (no newline translation) and a Windows
// console shows them as UTF-8.
void prepareOutput();

// True when a process with this id runs (or exists but may not be inspected).
bool processRunning(uint32_t pid);

}  // namespace querysystem
