// A second process for the synchronisation tests:
//   synchelper mutex|semaphore NAME lock|open exit|wait|hang
// opens the named object (and with "lock" waits on it), sets the event NAME_ready, then
// "exit": ends at once without releasing anything; "wait": waits for the event NAME_go,
// releases what it locked and ends; "hang": waits forever (to be killed).
// Exit code: 10 when this process created the object, 11 when it existed; 2 on bad use.
#include <memory>
#include <string>

#include "sync/namedevent.h"
#include "sync/win32sync.h"
#include "text/strutil.h"

int main(int argc, char** argv) {
    if (argc != 5)
        return 2;
    const std::string kind = argv[1];
    const std::wstring name = toWide(argv[2]);
    const std::string action = argv[3];
    const std::string then = argv[4];

    std::unique_ptr<SyncObject> object =
        kind == "mutex" ? createMutex(name.c_str()) : createSemaphore(name.c_str());
    if (!object)
        return 2;
    if (action == "lock" && object->wait() != 0)
        return 3;

    auto ready = NamedEvent::create((name + L"_ready").c_str(), true, false);
    if (!ready)
        return 4;
    ready->set();

    if (then == "wait") {
        auto go = NamedEvent::create((name + L"_go").c_str(), true, false);
        if (!go || go->wait() != 0)
            return 5;
        if (action == "lock" && !object->release())
            return 6;
    } else if (then == "hang") {
        for (;;)
            sleepMs(1000);
    }
    return object->created ? 10 : 11;
}
