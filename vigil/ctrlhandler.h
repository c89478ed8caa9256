// Registration of the console control handler. The handler receives the control type (0 Ctrl+C,
// 1 Ctrl+Break, 2 console closed, 5 log-off, 6 shut-down) and returns whether it handled the
// event; when it did not, the platform's default action ends the process.
// Linux: SIGINT is 0, SIGQUIT 1, SIGHUP 2 and SIGTERM 6, received on a dedicated thread (the
// signals are blocked in the calling thread and in every thread it creates afterwards, so
// register before starting any thread).
#pragma once

using ConsoleCtrlHandler = bool (*)(unsigned long controlType);

bool registerConsoleCtrlHandler(ConsoleCtrlHandler handler);
