#include <cerrno>
#include <climits>
#include <new>

#include "namedevent.h"
#include "shmobject_posix.h"

namespace {

struct EventState {
    std::atomic<uint32_t> manualReset;
    std::atomic<uint32_t> signaled;
    // Bumped by every set, so that a waiter never sleeps through one.
    std::atomic<uint32_t> sequence;
};

}  // namespace

struct NamedEvent::Impl {
    std::unique_ptr<ShmObject> object;
    EventState* state() const { return static_cast<EventState*>(object->state()); }
};

NamedEvent::NamedEvent(std::unique_ptr<Impl> impl, bool alreadyExisted)
    : impl_(std::move(impl)), alreadyExisted_(alreadyExisted) {}

NamedEvent::~NamedEvent() = default;

std::unique_ptr<NamedEvent> NamedEvent::create(const wchar_t* name, bool manualReset,
                                               bool initialState) {
    auto object = ShmObject::open(name, ShmKind::Event, sizeof(EventState), [&](void* raw) {
        auto* st = new (raw) EventState;
        st->manualReset = manualReset ? 1 : 0;
        st->signaled = initialState ? 1 : 0;
        st->sequence = 0;
    });
    if (!object)
        return nullptr;
    const bool existed = !object->created();
    return std::unique_ptr<NamedEvent>(
        new NamedEvent(std::make_unique<Impl>(Impl{std::move(object)}), existed));
}

bool NamedEvent::set() {
    EventState* st = impl_->state();
    st->signaled.store(1);
    st->sequence.fetch_add(1);
    shmFutexWake(&st->sequence, INT_MAX);
    return true;
}

bool NamedEvent::reset() {
    impl_->state()->signaled.store(0);
    return true;
}

namespace {

// Takes the event (clearing it when it resets automatically); false when it is not set.
bool tryTake(EventState* st) {
    if (st->manualReset.load())
        return st->signaled.load() != 0;
    uint32_t one = 1;
    return st->signaled.compare_exchange_strong(one, 0);
}

int waitUntil(EventState* st, const struct timespec* deadline) {
    for (;;) {
        const uint32_t seen = st->sequence.load();
        if (tryTake(st))
            return 0;
        int r = shmFutexWait(&st->sequence, seen, deadline);
        if (r == ETIMEDOUT)
            return tryTake(st) ? 0 : -20;
        if (r != 0 && r != EINTR)
            return -21;
    }
}

}  // namespace

int NamedEvent::wait() {
    return waitUntil(impl_->state(), nullptr);
}

int NamedEvent::waitTimeout(unsigned ms) {
    const struct timespec deadline = shmDeadlineAfter(ms);
    return waitUntil(impl_->state(), &deadline);
}
