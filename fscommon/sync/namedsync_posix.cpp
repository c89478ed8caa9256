#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <functional>
#include <mutex>
#include <new>
#include <string>

#include "log/rklog.h"
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

// Marks the event set and wakes its waiters.
void signalEvent(EventState* st) {
    st->signaled.store(1);
    st->sequence.fetch_add(1);
    shmFutexWake(&st->sequence, INT_MAX);
}

// The end of the next sleep: the deadline, or one second ahead when that comes first, so that a
// waiter goes over to an object that was put back in place (see Impl::check).
struct timespec sliceEnd(const struct timespec* deadline) {
    struct timespec slice = shmDeadlineAfter(1000);
    if (deadline && (deadline->tv_sec < slice.tv_sec ||
                     (deadline->tv_sec == slice.tv_sec && deadline->tv_nsec < slice.tv_nsec))) {
        slice = *deadline;
    }
    return slice;
}

}  // namespace

// One handle. Its object is replaced when the object's file loses its name: the watchdog then
// opens the name again (creating the object anew or joining one that another process made in
// the meantime) and carries the state over, so that openers by name reach this handle again.
// mutex orders every change of state against such a move; waiters that still use the old
// object keep it alive through their shared_ptr and go over at their next round.
struct NamedSyncHandle::Impl final : ShmWatched {
    Impl(const wchar_t* objectName, ShmKind objectKind, size_t size,
         std::unique_ptr<ShmObject> object)
        : name(objectName), kind(objectKind), stateSize(size), current(std::move(object)) {}

    ~Impl() {
        shmUnwatch(this);
        if (kind == ShmKind::Mutex) {
            // A mutex held by a thread of this process sits in that thread's robust list, which
            // the C library and the kernel walk later: its memory must stay mapped.
            const pid_t owner = state<MutexState>(current)->mutex.__data.__owner;
            if (owner != 0 && syscall(SYS_tgkill, getpid(), owner, 0) == 0)
                current->keepMapped();
        }
    }

    std::shared_ptr<ShmObject> object() const {
        std::lock_guard<std::mutex> lock(mutex);
        return current;
    }

    template <typename T>
    static T* state(const std::shared_ptr<ShmObject>& object) {
        return static_cast<T*>(object->state());
    }

    void check() override;
    // Carries the state of a moved object over to the one now in place (mutex held).
    void adopt(void* from, void* to) const;
    // The state of an object made anew in place of one that moved.
    void initAnew(void* raw, const void* from) const;

    const std::wstring name;
    const ShmKind kind;
    const size_t stateSize;
    mutable std::mutex mutex;
    std::shared_ptr<ShmObject> current;
    // After a failed attempt to put the object back, rounds to skip (doubling up to a minute).
    unsigned backoff = 0;
    unsigned skip = 0;
};

void NamedSyncHandle::ImplDeleter::operator()(Impl* impl) const {
    delete impl;
}

namespace {

constexpr char kLogModule[] = "fscommon/win32sync";

// Sleeps on a futex word until take() succeeds or the deadline passes. Events and semaphores
// bump their word whenever a waiter could succeed. sleepers (null when the object keeps no such
// count) counts the waiters asleep: it goes up before the word is checked again, so a bump that
// saw no sleeper left the word changed for that check.
template <typename Word, typename Take, typename Sleepers>
WaitStatus waitOnWord(NamedSyncHandle::Impl* impl, Word word, Take take,
                      const struct timespec* deadline, Sleepers sleepers) {
    for (;;) {
        const std::shared_ptr<ShmObject> object = impl->object();
        std::atomic<uint32_t>* w = word(object);
        const uint32_t seen = w->load();
        {
            std::lock_guard<std::mutex> lock(impl->mutex);
            if (object != impl->current)
                continue;
            if (take(object))
                return WaitStatus::Signaled;
        }
        if (deadline && shmDeadlinePassed(*deadline))
            return WaitStatus::Timeout;
        const struct timespec slice = sliceEnd(deadline);
        std::atomic<uint32_t>* asleep = sleepers(object);
        if (asleep)
            asleep->fetch_add(1);
        const int r = shmFutexWait(w, seen, &slice);
        if (asleep)
            asleep->fetch_sub(1);
        if (r != 0 && r != ETIMEDOUT && r != EINTR)
            return failed(r);
    }
}

}  // namespace

void NamedSyncHandle::Impl::initAnew(void* raw, const void* from) const {
    switch (kind) {
        case ShmKind::Event: {
            auto* st = new (raw) EventState;
            st->manualReset = static_cast<const EventState*>(from)->manualReset.load();
            st->signaled = 0;
            st->sequence = 0;
            break;
        }
        case ShmKind::Semaphore: {
            auto* st = new (raw) SemaphoreState;
            st->count = 0;
            st->maximum = static_cast<const SemaphoreState*>(from)->maximum.load();
            st->sleepers = 0;
            break;
        }
        case ShmKind::Mutex:
            initMutex(raw);
            break;
    }
}

void NamedSyncHandle::Impl::adopt(void* from, void* to) const {
    if (kind == ShmKind::Event) {
        auto* old = static_cast<EventState*>(from);
        if (old->signaled.load())
            signalEvent(static_cast<EventState*>(to));
        // Waiters still asleep on the old word wake up and go over.
        old->sequence.fetch_add(1);
        shmFutexWake(&old->sequence, INT_MAX);
    } else if (kind == ShmKind::Semaphore) {
        auto* old = static_cast<SemaphoreState*>(from);
        auto* now = static_cast<SemaphoreState*>(to);
        const uint32_t count = std::min(now->maximum.load(), now->count.load() + old->count.load());
        now->count.store(count);
        shmFutexWake(&now->count, INT_MAX);
        shmFutexWake(&old->count, INT_MAX);
    }
    // A mutex moves only while nobody holds it (see check): there is nothing to carry over.
}

void NamedSyncHandle::Impl::check() {
    if (skip > 0) {
        --skip;
        return;
    }
    const std::shared_ptr<ShmObject> old = object();
    if (!old->removed())
        return;
    pthread_mutex_t* held = nullptr;
    if (kind == ShmKind::Mutex) {
        // Move only a mutex nobody holds, and keep it until the new one is in place, so that no
        // thread can own the old one afterwards (wait() lets go of a mutex that moved).
        held = &state<MutexState>(old)->mutex;
        const int r = pthread_mutex_trylock(held);
        if (r == EOWNERDEAD)
            pthread_mutex_consistent(held);
        else if (r != 0)
            return;
    }
    RkLogWrapper* log = getRkLogFs();
    auto fresh = ShmObject::open(name.c_str(), kind, stateSize,
                                 [&](void* raw) { initAnew(raw, old->state()); });
    if (fresh) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            adopt(old->state(), fresh->state());
            current = std::move(fresh);
        }
        LOG_TRACE(log, "NamedSyncHandle::check - the file of [%ls] was removed; put it back\n",
                  name.c_str());
        backoff = 0;
    } else {
        if (backoff == 0) {
            LOG_TRACE(log,
                      "NamedSyncHandle::check - cannot put back the removed file of [%ls]: %s\n",
                      name.c_str(), sysinfo::errorText(sysinfo::lastError()).c_str());
        }
        backoff = std::min(backoff == 0 ? 1u : backoff * 2, 60u);
        skip = backoff;
    }
    if (held)
        pthread_mutex_unlock(held);
}

namespace {

NamedSyncHandle::ImplPtr openObject(const wchar_t* name, ShmKind kind, size_t stateSize,
                                    const std::function<void(void*)>& init, bool* existed) {
    auto object = ShmObject::open(name, kind, stateSize, init);
    if (!object)
        return nullptr;
    *existed = !object->created();
    NamedSyncHandle::ImplPtr impl(
        new NamedSyncHandle::Impl(name, kind, stateSize, std::move(object)));
    shmWatch(impl.get());
    return impl;
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
    if (impl_->kind == ShmKind::Semaphore) {
        // A semaphore with a count needs no clock.
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (takeSemaphore(Impl::state<SemaphoreState>(impl_->current)))
            return WaitStatus::Signaled;
    }
    struct timespec deadlineStore = shmDeadlineAfter(ms == kWaitInfinite ? 0 : ms);
    const struct timespec* deadline = ms == kWaitInfinite ? nullptr : &deadlineStore;
    Impl* impl = impl_.get();

    if (impl->kind == ShmKind::Mutex) {
        for (;;) {
            const std::shared_ptr<ShmObject> object = impl->object();
            pthread_mutex_t* m = &Impl::state<MutexState>(object)->mutex;
            int r = deadline ? pthread_mutex_clocklock(m, CLOCK_MONOTONIC, deadline)
                             : pthread_mutex_lock(m);
            if (r == EOWNERDEAD)
                pthread_mutex_consistent(m);
            else if (r == ETIMEDOUT)
                return WaitStatus::Timeout;
            else if (r != 0)
                return failed(r);
            {
                std::lock_guard<std::mutex> lock(impl->mutex);
                if (object == impl->current)
                    return r == 0 ? WaitStatus::Signaled : WaitStatus::Abandoned;
            }
            pthread_mutex_unlock(m);  // it moved meanwhile: take the one in place
        }
    }

    if (impl->kind == ShmKind::Event) {
        return waitOnWord(
            impl, [](const auto& o) { return &Impl::state<EventState>(o)->sequence; },
            [](const auto& o) { return takeEvent(Impl::state<EventState>(o)); }, deadline,
            [](const auto&) -> std::atomic<uint32_t>* { return nullptr; });
    }
    return waitOnWord(
        impl, [](const auto& o) { return &Impl::state<SemaphoreState>(o)->count; },
        [](const auto& o) { return takeSemaphore(Impl::state<SemaphoreState>(o)); }, deadline,
        [](const auto& o) { return &Impl::state<SemaphoreState>(o)->sleepers; });
}

bool NamedSyncHandle::setEvent() {
    if (impl_->kind != ShmKind::Event)
        return false;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    signalEvent(Impl::state<EventState>(impl_->current));
    return true;
}

bool NamedSyncHandle::resetEvent() {
    if (impl_->kind != ShmKind::Event)
        return false;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Impl::state<EventState>(impl_->current)->signaled.store(0);
    return true;
}

bool NamedSyncHandle::releaseMutex() {
    if (impl_->kind != ShmKind::Mutex)
        return false;
    // A mutex held by this thread cannot have moved.
    const int r = pthread_mutex_unlock(&Impl::state<MutexState>(impl_->object())->mutex);
    if (r != 0) {
        errno = r;
        return false;
    }
    return true;
}

bool NamedSyncHandle::releaseSemaphore() {
    if (impl_->kind != ShmKind::Semaphore)
        return false;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    SemaphoreState* st = Impl::state<SemaphoreState>(impl_->current);
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
