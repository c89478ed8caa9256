// The one thread of a provider and how other threads control it: a stop request, and a hold
// request that the thread answers, so that the requester knows when it holds.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class WorkerThread {
  public:
    // Wakes the thread from whatever it waits on.
    using Wake = std::function<void()>;

    ~WorkerThread() {
        stop([] {});
    }

    bool running() const { return thread_.joinable(); }
    void start(std::function<void()> body);
    // Asks the thread to end, wakes it and waits for it.
    void stop(const Wake& wake);
    bool stopRequested() const { return stop_.load(); }

    // Asks the thread to hold (or to go on) and waits for its answer: 0, or -1 when it gave
    // none within ten seconds. Without a running thread the request waits for the next one.
    int requestHold(bool hold, const Wake& wake);
    bool holdRequested() const { return hold_.load(); }

    // Thread side: answers the latest hold request; true while it is to hold.
    bool answerHold();

  private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> hold_{false};
    std::mutex mutex_;
    std::condition_variable answered_;
    // Guarded by mutex_: the thread's answer, and whether it has ended.
    bool holding_ = false;
    bool ended_ = false;
};
