#include <pthread.h>
#include <signal.h>

#include <thread>

#include "ctrlhandler.h"

namespace {

struct SignalType {
    int signal;
    unsigned long controlType;
};

constexpr SignalType kSignals[] = {
    {SIGINT, 0},
    {SIGQUIT, 1},
    {SIGHUP, 2},
    {SIGTERM, 6},
};

sigset_t controlSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const SignalType& s : kSignals)
        sigaddset(&set, s.signal);
    return set;
}

void signalThread(ConsoleCtrlHandler handler) {
    const sigset_t set = controlSignals();
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0)
            continue;
        unsigned long type = 0;
        for (const SignalType& s : kSignals) {
            if (s.signal == sig)
                type = s.controlType;
        }
        if (handler(type))
            continue;
        // Not handled: the default action of the signal ends the process, as the default
        // console handler does on Windows.
        signal(sig, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        raise(sig);
    }
}

}  // namespace

bool registerConsoleCtrlHandler(ConsoleCtrlHandler handler) {
    const sigset_t set = controlSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
        return false;
    try {
        std::thread(signalThread, handler).detach();
    } catch (...) {
        return false;
    }
    return true;
}
