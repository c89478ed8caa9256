// The platform's WOW64 entry points, looked up at run time in the already loaded "kernel32".
#pragma once

namespace wow64os {

struct EntryPoints {
    bool moduleFound = false;
    bool disable = false;
    bool revert = false;
    bool query = false;
};

// Resolves the three entry points (kept inside this unit) and tells which were found.
EntryPoints resolve();
// Asks whether this process runs under WOW64; false when the query failed.
bool queryIsWow64(bool* isWow64);
// Switches file-system redirection off for the calling thread, saving the old value.
bool disableRedirection(void** savedValue);

}  // namespace wow64os
