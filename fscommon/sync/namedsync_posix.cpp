#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <functional>
#include <new>

#include "sync/namedsync.h"
#include "sync/shmobject_posix.h"
#include "system/syserror_posix.h"
#include "system/sysinfo.h"

namespace {

struct EventState {
    std::atomic<uint32_t> manualReset;
    std::atomic<uint32_t> signaled;
    // Bumped by every set, so that a waiter never sleeps through one.
    std::atomic<uint32_t> sequence;
};

struct SemaphoreState {
    std::atomic<uint32_t> count;
    std::atomic<uint32_t> maximum;
    // Waiters asleep on count: a release finding none makes no wake-up call.
    std::atomic<uint32_t> sleepers;
};

// A process-shared, robust, recursive mutex: a holder that dies leaves it to the next locker
// with EOWNERDEAD.
struct MutexState {
    pthread_mutex_t mutex;
};

void initMutex(void* raw) {
    auto* st = new (raw) MutexState;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&st->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

// Takes the event (clearing it when it resets automatically); false when it is not set.
bool takeEvent(EventState* st) {
    if (st->manualReset.load())
        return st->signaled.load() != 0;
    uint32_t one = 1;
    return st->signaled.compare_exchange_strong(one, 0);
}

bool takeSemaphore(SemaphoreState* st) {
    uint32_t c = st->count.load();
    while (c > 0) {
        if (st->count.compare_exchange_weak(c, c - 1))
            return true;
    }
    return false;
}

WaitStatus failed(int err) {
    errno = err;
    return WaitStatus::Failed;
}

// Sleeps on a futex word until take() succeeds or the deadline passes. Events and semaphores
// bump their word whenever a waiter could succeed. sleepers, when given, counts the waiters
// asleep: it goes up before the word is checked again, so a bump that saw no sleeper left the
// word changed for the check.
template <typename Take>
WaitStatus waitOnWord(std::atomic<uint32_t>* word, Take take, const struct timespec* deadline,
                      std::atomic<uint32_t>* sleepers = nullptr) {
    for (;;) {
        const uint32_t seen = word->load();
        if (take())
            return WaitStatus::Signaled;
        if (sleepers)
            sleepers->fetch_add(1);
        const int r = shmFutexWait(word, seen, deadline);
        if (sleepers)
            sleepers->fetch_sub(1);
        if (r == ETIMEDOUT)
            return take() ? WaitStatus::Signaled : WaitStatus::Timeout;
        if (r != 0 && r != EINTR)
            return failed(r);
    }
}

}  // namespace

struct NamedSyncHandle::Impl {
    ~Impl() {
        if (kind == ShmKind::Mutex) {
            // A mutex held by a thread of this process sits in that thread's robust list, which
            // the C library and the kernel walk later: its memory must stay mapped.
            const pid_t owner = state<MutexState>()->mutex.__data.__owner;
            if (owner != 0 && syscall(SYS_tgkill, getpid(), owner, 0) == 0)
                object->keepMapped();
        }
    }

    std::unique_ptr<ShmObject> object;
    ShmKind kind;

    template <typename T>
    T* state() const {
        return static_cast<T*>(object->state());
    }
};

void NamedSyncHandle::ImplDeleter::operator()(Impl* impl) const {
    delete impl;
}

namespace {

NamedSyncHandle::ImplPtr openObject(const wchar_t* name, ShmKind kind, size_t stateSize,
                                    const std::function<void(void*)>& init, bool* existed) {
    auto object = ShmObject::open(name, kind, stateSize, init);
    if (!object)
        return nullptr;
    *existed = !object->created();
    return NamedSyncHandle::ImplPtr(new NamedSyncHandle::Impl{std::move(object), kind});
}

}  // namespace

std::unique_ptr<NamedSyncHandle> NamedSyncHandle::createEvent(const wchar_t* name, bool manualReset,
                                                              bool initialState) {
    bool existed = false;
    auto impl = openObject(
        name, ShmKind::Event, sizeof(EventState),
        [&](void* raw) {
            auto* st = new (raw) EventState;
            st->manualReset = manualReset ? 1 : 0;
            st->signaled = initialState ? 1 : 0;
            st->sequence = 0;
        },
        &existed);
    return make(std::move(impl), existed);
}

std::unique_ptr<NamedSyncHandle> NamedSyncHandle::createMutex(const wchar_t* name) {
    bool existed = false;
    auto impl = openObject(name, ShmKind::Mutex, sizeof(MutexState), initMutex, &existed);
    return make(std::move(impl), existed);
}

std::unique_ptr<NamedSyncHandle> NamedSyncHandle::createSemaphore(const wchar_t* name,
                                                                  uint32_t initialCount,
                                                                  uint32_t maximumCount) {
    if (maximumCount == 0 || initialCount > maximumCount || maximumCount > INT_MAX) {
        sysinfo::setLastError(sysinfo::kErrorInvalidParameter);
        return nullptr;
    }
    bool existed = false;
    auto impl = openObject(
        name, ShmKind::Semaphore, sizeof(SemaphoreState),
        [&](void* raw) {
            auto* st = new (raw) SemaphoreState;
            st->count = initialCount;
            st->maximum = maximumCount;
            st->sleepers = 0;
        },
        &existed);
    return make(std::move(impl), existed);
}

WaitStatus NamedSyncHandle::wait(unsigned ms) {
    // A semaphore with a count needs no clock.
    if (impl_->kind == ShmKind::Semaphore && takeSemaphore(impl_->state<SemaphoreState>()))
        return WaitStatus::Signaled;
    struct timespec deadlineStore = shmDeadlineAfter(ms == kWaitInfinite ? 0 : ms);
    const struct timespec* deadline = ms == kWaitInfinite ? nullptr : &deadlineStore;

    if (impl_->kind == ShmKind::Mutex) {
        pthread_mutex_t* m = &impl_->state<MutexState>()->mutex;
        int r = deadline ? pthread_mutex_clocklock(m, CLOCK_MONOTONIC, deadline)
                         : pthread_mutex_lock(m);
        switch (r) {
            case 0:
                return WaitStatus::Signaled;
            case EOWNERDEAD:
                pthread_mutex_consistent(m);
                return WaitStatus::Abandoned;
            case ETIMEDOUT:
                return WaitStatus::Timeout;
            default:
                return failed(r);
        }
    }

    if (impl_->kind == ShmKind::Event) {
        EventState* st = impl_->state<EventState>();
        return waitOnWord(
            &st->sequence, [st] { return takeEvent(st); }, deadline);
    }
    SemaphoreState* st = impl_->state<SemaphoreState>();
    return waitOnWord(
        &st->count, [st] { return takeSemaphore(st); }, deadline, &st->sleepers);
}

bool NamedSyncHandle::setEvent() {
    if (impl_->kind != ShmKind::Event)
        return false;
    EventState* st = impl_->state<EventState>();
    st->signaled.store(1);
    st->sequence.fetch_add(1);
    shmFutexWake(&st->sequence, INT_MAX);
    return true;
}

bool NamedSyncHandle::resetEvent() {
    if (impl_->kind != ShmKind::Event)
        return false;
    impl_->state<EventState>()->signaled.store(0);
    return true;
}

bool NamedSyncHandle::releaseMutex() {
    if (impl_->kind != ShmKind::Mutex)
        return false;
    const int r = pthread_mutex_unlock(&impl_->state<MutexState>()->mutex);
    if (r != 0) {
        errno = r;
        return false;
    }
    return true;
}

bool NamedSyncHandle::releaseSemaphore() {
    if (impl_->kind != ShmKind::Semaphore)
        return false;
    SemaphoreState* st = impl_->state<SemaphoreState>();
    uint32_t c = st->count.load();
    do {
        if (c >= st->maximum.load()) {
            sysinfo::setLastError(sysinfo::kErrorTooManyPosts);
            return false;
        }
    } while (!st->count.compare_exchange_weak(c, c + 1));
    if (st->sleepers.load() != 0)
        shmFutexWake(&st->count, 1);
    return true;
}
