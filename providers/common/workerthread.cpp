#include "common/workerthread.h"

#include <chrono>

void WorkerThread::start(std::function<void()> body) {
    stop_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = false;
    }
    thread_ = std::thread([this, body = std::move(body)] {
        body();
        // A thread that ended answers every request.
        std::lock_guard<std::mutex> lock(mutex_);
        holding_ = false;
        ended_ = true;
        answered_.notify_all();
    });
}

void WorkerThread::stop(const Wake& wake) {
    if (!thread_.joinable())
        return;
    stop_ = true;
    wake();
    thread_.join();
}

int WorkerThread::requestHold(bool hold, const Wake& wake) {
    hold_ = hold;
    if (!thread_.joinable())
        return 0;
    wake();  // outside the lock: the thread may hold its own while it answers
    std::unique_lock<std::mutex> lock(mutex_);
    const bool answered = answered_.wait_for(lock, std::chrono::seconds(10),
                                             [&] { return holding_ == hold || ended_; });
    return answered ? 0 : -1;
}

bool WorkerThread::answerHold() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holding_ != hold_) {
        holding_ = hold_;
        answered_.notify_all();
    }
    return holding_;
}
