#include "common/eventbatch.h"

#include <algorithm>

void EventBatch::add(size_t root, uint32_t action, std::wstring path) {
    if (action == FS_ACTION_MODIFIED) {
        if (!modified_.insert(path).second)
            return;
    } else {
        modified_.erase(path);
    }
    if (events_.empty()) {
        const auto now = std::chrono::steady_clock::now();
        dueAt_ = std::max(now, clearedAt_ + kWindow);
    }
    events_.push_back(RootEvent{root, FsEvent(std::move(path), action)});
}

bool EventBatch::due() const {
    return !events_.empty() &&
           (events_.size() >= kMaxEvents || std::chrono::steady_clock::now() >= dueAt_);
}

int EventBatch::msUntilDue() const {
    if (events_.empty())
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        dueAt_ - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void EventBatch::clear() {
    clearedAt_ = std::chrono::steady_clock::now();
    events_.clear();
    modified_.clear();
}
