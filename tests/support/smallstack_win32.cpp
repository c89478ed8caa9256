#include <windows.h>

#include "smallstack.h"

namespace testsupport {

namespace {

DWORD WINAPI trampoline(LPVOID arg) {
    (*static_cast<const std::function<void()>*>(arg))();
    return 0;
}

}  // namespace

bool runWithStack(size_t stackBytes, const std::function<void()>& work) {
    HANDLE thread =
        CreateThread(nullptr, stackBytes, trampoline, const_cast<std::function<void()>*>(&work),
                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr)
        return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return true;
}

}  // namespace testsupport
