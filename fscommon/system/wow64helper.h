// Finds out whether the process is a 32-bit process on a 64-bit system (WOW64) and switches the
// platform's file-system redirection off for the calling thread, so that scans see the real
// system directories. Linux has no such layer (state 3).
#pragma once

#include "log/rklog.h"

class Wow64Helper {
  public:
    // 0 runs under WOW64, 1 does not, 2 unknown or the query failed, 3 no WOW64 query.
    enum State { kWow64 = 0, kNotWow64 = 1, kUnknown = 2, kNoQuery = 3 };

    // The first construction in the process resolves the entry points and the state.
    Wow64Helper();

    // True when redirection was switched off for the calling thread. Once off it stays off
    // for that thread.
    bool disableWow64FsRedirection();

    static State state();

  private:
    // Determines the state; true when the process runs under WOW64.
    bool __isWow64Process();

    RkLogWrapper* log_;
    void* savedRedirection_ = nullptr;
};
