#include <windows.h>

#include "system/wow64os.h"

namespace {

using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);
using QueryFn = BOOL(WINAPI*)(HANDLE, PBOOL);

DisableFn g_disable = nullptr;
RevertFn g_revert = nullptr;
QueryFn g_query = nullptr;

template <typename Fn>
Fn lookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

namespace wow64os {

EntryPoints resolve() {
    EntryPoints found;
    HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel == nullptr)
        return found;
    found.moduleFound = true;
    g_disable = lookUp<DisableFn>(kernel, "Wow64DisableWow64FsRedirection");
    g_revert = lookUp<RevertFn>(kernel, "Wow64RevertWow64FsRedirection");
    g_query = lookUp<QueryFn>(kernel, "IsWow64Process");
    found.disable = g_disable != nullptr;
    found.revert = g_revert != nullptr;
    found.query = g_query != nullptr;
    return found;
}

bool queryIsWow64(bool* isWow64) {
    BOOL answer = FALSE;
    if (g_query == nullptr || !g_query(GetCurrentProcess(), &answer))
        return false;
    *isWow64 = answer == TRUE;
    return true;
}

bool disableRedirection(void** savedValue) {
    return g_disable != nullptr && g_disable(savedValue) == TRUE;
}

}  // namespace wow64os
