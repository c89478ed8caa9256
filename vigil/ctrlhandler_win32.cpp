#include <windows.h>

#include "ctrlhandler.h"

namespace {

ConsoleCtrlHandler g_handler = nullptr;

BOOL WINAPI dispatch(DWORD controlType) {
    return g_handler(controlType) ? TRUE : FALSE;
}

}  // namespace

bool registerConsoleCtrlHandler(ConsoleCtrlHandler handler) {
    g_handler = handler;
    return SetConsoleCtrlHandler(dispatch, TRUE) != 0;
}
