#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>

#include "sync/threados.h"

namespace {

// Shared by the handle and its thread, so that either may go first.
struct Control {
    ThreadHandle::Entry entry = nullptr;
    void* argument = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    bool resumed = false;
    bool cancelled = false;
    bool finished = false;
};

void* threadMain(void* raw) {
    std::shared_ptr<Control> control = std::move(*static_cast<std::shared_ptr<Control>*>(raw));
    delete static_cast<std::shared_ptr<Control>*>(raw);
    {
        // Created suspended: nothing runs before resume.
        std::unique_lock<std::mutex> lock(control->mutex);
        control->changed.wait(lock, [&] { return control->resumed || control->cancelled; });
        if (control->cancelled)
            return nullptr;
    }
    control->entry(control->argument);
    {
        std::lock_guard<std::mutex> lock(control->mutex);
        control->finished = true;
    }
    control->changed.notify_all();
    return nullptr;
}

}  // namespace

struct ThreadHandle::Impl {
    pthread_t thread{};
    std::shared_ptr<Control> control;
    bool joined = false;
};

ThreadHandle::ThreadHandle(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ThreadHandle::~ThreadHandle() {
    if (impl_->joined)
        return;
    bool resumed;
    {
        std::lock_guard<std::mutex> lock(impl_->control->mutex);
        resumed = impl_->control->resumed;
        if (!resumed)
            impl_->control->cancelled = true;
    }
    impl_->control->changed.notify_all();
    if (resumed) {
        pthread_detach(impl_->thread);  // still running: it keeps its own share of the control
    } else {
        pthread_join(impl_->thread, nullptr);
    }
}

std::unique_ptr<ThreadHandle> ThreadHandle::createSuspended(size_t stackSize, Entry entry,
                                                            void* argument, uint32_t* threadId) {
    auto impl = std::make_unique<Impl>();
    impl->control = std::make_shared<Control>();
    impl->control->entry = entry;
    impl->control->argument = argument;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackSize > 0) {
        const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attr, stackSize < minimum ? minimum : stackSize);
    }
    auto* parameter = new std::shared_ptr<Control>(impl->control);
    const int r = pthread_create(&impl->thread, &attr, threadMain, parameter);
    pthread_attr_destroy(&attr);
    if (r != 0) {
        delete parameter;
        errno = r;
        return nullptr;
    }
    // The kernel id is known only inside the thread; the pthread id's low bits serve as a
    // process-unique identifier.
    if (threadId)
        *threadId = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(impl->thread));
    return std::unique_ptr<ThreadHandle>(new ThreadHandle(std::move(impl)));
}

bool ThreadHandle::resume() {
    {
        std::lock_guard<std::mutex> lock(impl_->control->mutex);
        if (impl_->control->cancelled)
            return false;
        impl_->control->resumed = true;
    }
    impl_->control->changed.notify_all();
    return true;
}

WaitStatus ThreadHandle::wait(unsigned ms) {
    if (impl_->joined)
        return WaitStatus::Signaled;
    {
        std::unique_lock<std::mutex> lock(impl_->control->mutex);
        auto done = [&] { return impl_->control->finished; };
        if (ms == kWaitInfinite) {
            impl_->control->changed.wait(lock, done);
        } else if (!impl_->control->changed.wait_for(lock, std::chrono::milliseconds(ms), done)) {
            return WaitStatus::Timeout;
        }
    }
    if (pthread_join(impl_->thread, nullptr) != 0)
        return WaitStatus::Failed;
    impl_->joined = true;
    return WaitStatus::Signaled;
}

void sleepMs(unsigned ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    struct timespec ts {
        static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000
    };
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}
