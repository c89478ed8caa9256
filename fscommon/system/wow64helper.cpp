#include "system/wow64helper.h"

#include <atomic>

#include "system/sysinfo.h"
#include "system/wow64os.h"

namespace {

constexpr char kLogModule[] = "fscommon/wow64helper";

// Process-wide: only the construction that brings the counter to 0 resolves and decides.
std::atomic<int> g_constructions{1};
std::atomic<int> g_state{Wow64Helper::kUnknown};
wow64os::EntryPoints g_entryPoints;

}  // namespace

Wow64Helper::Wow64Helper() : log_(getRkLogFs()) {
    if (--g_constructions != 0)
        return;
    g_entryPoints = wow64os::resolve();
    if (g_entryPoints.moduleFound)
        __isWow64Process();
}

Wow64Helper::State Wow64Helper::state() {
    return static_cast<State>(g_state.load());
}

bool Wow64Helper::__isWow64Process() {
    if (!g_entryPoints.query) {
        g_state = kNoQuery;
        LOG_TRACE_AS(log_, "__isWow64Process",
                     "::isWow64Process - IsWow64Process() not found (win 2K or previous "
                     "versions)\n");
        return false;
    }
    LOG_TRACE_AS(log_, "__isWow64Process",
                 "::isWow64Process - IsWow64Process() found! calling...\n");
    bool isWow64 = false;
    if (!wow64os::queryIsWow64(&isWow64)) {
        LOG_TRACE_AS(log_, "__isWow64Process",
                     "::isWow64Process - fnIsWow64Process() returns with error [%d]\n",
                     static_cast<int>(sysinfo::lastError()));
        g_state = kUnknown;
        return false;
    }
    g_state = isWow64 ? kWow64 : kNotWow64;
    LOG_TRACE_AS(log_, "__isWow64Process", "::isWow64Process - process %s [1]\n",
                 isWow64 ? "is wow64" : "is not wow64");
    return isWow64;
}

bool Wow64Helper::disableWow64FsRedirection() {
    constexpr const char* kFunction = "disableWow64FsRedirection";
    if (state() != kWow64)
        return false;
    if (!g_entryPoints.disable) {
        LOG_TRACE_AS(log_, kFunction,
                     "::wow64DisableWow64FsRedirection - Wow64DisableWow64FsRedirection() not "
                     "found!\n");
        return false;
    }
    LOG_TRACE_AS(log_, kFunction,
                 "::wow64DisableWow64FsRedirection - Wow64DisableWow64FsRedirection() found! "
                 "calling...\n");
    if (wow64os::disableRedirection(&savedRedirection_)) {
        LOG_TRACE_AS(log_, kFunction,
                     "::wow64DisableWow64FsRedirection - fnWow64DisableWow64FsRedirection() "
                     "success!\n");
        return true;
    }
    LOG_TRACE_AS(log_, kFunction,
                 "::wow64DisableWow64FsRedirection - fnWow64DisableWow64FsRedirection() returns "
                 "with error [%d]\n",
                 static_cast<int>(sysinfo::lastError()));
    return false;
}
