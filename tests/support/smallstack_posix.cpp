#include <pthread.h>

#include "smallstack.h"

namespace testsupport {

namespace {

void* trampoline(void* arg) {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
}

}  // namespace

bool runWithStack(size_t stackBytes, const std::function<void()>& work) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    pthread_t thread;
    const bool started =
        pthread_attr_setstacksize(&attr, stackBytes) == 0 &&
        pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&work)) == 0;
    pthread_attr_destroy(&attr);
    if (started)
        pthread_join(thread, nullptr);
    return started;
}

}  // namespace testsupport
