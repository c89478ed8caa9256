#include "common/eventdelivery.h"

#include <chrono>
#include <thread>

#include "cache/eventqueue.h"

namespace {

constexpr char kLogModule[] = "providers/common";
// How often a provider with a pending pair tries the queue again.
constexpr int kRetryMs = 50;

}  // namespace

void EventDelivery::setQueue(EventQueue* queue) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_ = queue;
    pending_.assign(roots_.size(), false);
    pendingCount_ = 0;
}

void EventDelivery::setRoots(std::vector<std::wstring> rootPaths) {
    std::lock_guard<std::mutex> lock(mutex_);
    roots_ = std::move(rootPaths);
    pending_.assign(roots_.size(), false);
    pendingCount_ = 0;
}

void EventDelivery::markLocked(size_t root, const char* reason) {
    if (root >= roots_.size() || pending_[root])
        return;
    pending_[root] = true;
    ++pendingCount_;
    ++losses_;
    LOG_TRACE_AS(log_, "lost", "%s - events lost (%s): '%ls' will be rescanned\n", owner_, reason,
                 roots_[root].c_str());
}

void EventDelivery::flushLocked() {
    if (queue_ == nullptr || pendingCount_ == 0)
        return;
    for (size_t root = 0; root < roots_.size(); ++root) {
        if (!pending_[root])
            continue;
        const FsEvent pair[2] = {FsEvent(roots_[root], FS_ACTION_REMOVED),
                                 FsEvent(roots_[root], FS_ACTION_ADDED)};
        if (!queue_->append(pair, 2))
            return;
        pending_[root] = false;
        --pendingCount_;
        LOG_TRACE_AS(log_, "flushResyncs", "%s - '%ls' reported removed and added again\n", owner_,
                     roots_[root].c_str());
    }
}

void EventDelivery::deliver(EventBatch& batch) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_ != nullptr && !batch.empty()) {
        flushLocked();
        std::vector<FsEvent> events;
        events.reserve(batch.size());
        for (RootEvent& e : batch.events()) {
            if (e.root >= pending_.size() || !pending_[e.root])
                events.push_back(std::move(e.event));
        }
        if (!events.empty() && !queue_->append(events.data(), events.size())) {
            bool rooted = false;
            for (const RootEvent& e : batch.events()) {
                if (e.root < roots_.size()) {
                    markLocked(e.root, "event queue full");
                    rooted = true;
                }
            }
            if (!rooted) {
                LOG_TRACE_AS(log_, "deliver", "%s - event queue full: %u events lost\n", owner_,
                             static_cast<unsigned>(events.size()));
            }
        }
    }
    batch.clear();
}

void EventDelivery::lost(size_t root, const char* reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    markLocked(root, reason);
}

void EventDelivery::rootGone(size_t root) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (root < pending_.size() && pending_[root]) {
        pending_[root] = false;
        --pendingCount_;
    }
}

void EventDelivery::flushResyncs() {
    std::lock_guard<std::mutex> lock(mutex_);
    flushLocked();
}

int EventDelivery::waitMs(const EventBatch& batch) const {
    if (!batch.empty())
        return batch.msUntilDue();
    return resyncPending() ? kRetryMs : -1;
}

void EventDelivery::deliverDue(EventBatch& batch) {
    if (batch.due())
        deliver(batch);
    else if (batch.empty() && resyncPending())
        flushResyncs();
}

bool EventDelivery::deliverWaiting(const FsEvent* events, size_t count,
                                   const std::function<bool()>& stopped) {
    if (count > Win32Semaphore::kMaximumCount)
        return false;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_ == nullptr)
                return false;
            if (queue_->append(events, count))
                return true;
        }
        if (stopped())
            return false;
        // The consumer frees room at its own pace; nothing signals it to producers.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
