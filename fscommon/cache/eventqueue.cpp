#include "cache/eventqueue.h"

#include <atomic>

#include "system/sysinfo.h"

namespace {

std::wstring objectName(const wchar_t* name, const wchar_t* suffix) {
    static std::atomic<unsigned> counter{0};
    return std::wstring(name ? name : L"") + suffix + L"_" +
           std::to_wstring(sysinfo::currentProcessId()) + L"_" + std::to_wstring(counter++);
}

}  // namespace

EventQueue::EventQueue(const wchar_t* name)
    : semaphore_(createSemaphore(objectName(name, L"Sem").c_str())),
      mutex_(createMutex(objectName(name, L"Mtx").c_str())) {}

EventQueue::~EventQueue() = default;

bool EventQueue::valid() const {
    return semaphore_ && mutex_;
}

FsEvent EventQueue::get(unsigned timeoutMs) {
    const int waited = semaphore_->waitTimeout(timeoutMs);
    if (waited != 0) {
        lastError_ = waited == SYNC_TIMEOUT ? QUEUE_TIMEOUT : QUEUE_FAILED;
        return FsEvent();
    }
    if (mutex_->wait() != 0) {
        semaphore_->release();  // the event stays listed: give its count back
        lastError_ = QUEUE_FAILED;
        return FsEvent();
    }
    if (list_.empty()) {
        mutex_->release();
        lastError_ = QUEUE_FAILED;
        return FsEvent();
    }
    FsEvent event = std::move(list_.front());
    list_.pop_front();
    mutex_->release();
    return event;
}

bool EventQueue::append(const FsEvent* events, size_t count) {
    if (count == 0)
        return true;
    if (events == nullptr || mutex_->wait() != 0)
        return false;
    // The semaphore's count never exceeds the list's length, so with room for every event each
    // release below succeeds; it fails only when the semaphore itself is broken.
    bool ok = list_.size() + count <= Win32Semaphore::kMaximumCount;
    for (size_t i = 0; ok && i < count; ++i) {
        ok = semaphore_->release();
        if (ok)
            list_.push_back(events[i]);
    }
    mutex_->release();
    return ok;
}
