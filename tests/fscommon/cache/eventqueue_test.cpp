#include "cache/eventqueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

FsEvent event(int n, uint32_t action = FS_ACTION_ADDED) {
    return FsEvent(L"p" + std::to_wstring(n), action);
}

}  // namespace

TEST(EventQueue, FirstInFirstOutAndEmptyOnTimeout) {
    EventQueue queue(L"vigilQueue");
    ASSERT_TRUE(queue.valid());
    FsEvent none = queue.get(10);
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(queue.lastError(), QUEUE_TIMEOUT);

    const FsEvent batch[3] = {event(1), event(2, FS_ACTION_REMOVED), event(3, FS_ACTION_NEW_NAME)};
    ASSERT_TRUE(queue.append(batch, 3));
    ASSERT_TRUE(queue.append(FsEvent(L"", FS_ACTION_MODIFIED)));
    for (const FsEvent& expected : batch) {
        FsEvent got = queue.get(1000);
        ASSERT_TRUE(got.isValid());
        EXPECT_EQ(*got.path, *expected.path);
        EXPECT_EQ(got.action, expected.action);
    }
    // An empty path is still a valid event.
    EXPECT_TRUE(queue.get(1000).isValid());
    EXPECT_TRUE(queue.get(0).isEmpty());
}

TEST(EventQueue, QueuesOfOneNameDoNotShareTheirEvents) {
    EventQueue first(L"vigilQueue");
    EventQueue second(L"vigilQueue");
    ASSERT_TRUE(first.append(event(1)));
    EXPECT_TRUE(second.get(20).isEmpty());
    EXPECT_EQ(second.lastError(), QUEUE_TIMEOUT);
    EXPECT_TRUE(first.get(1000).isValid());
}

TEST(EventQueue, HoldsAtMost65535AndRefusesWholeBatchesBeyond) {
    EventQueue queue(L"vigilQueue");
    std::vector<FsEvent> events;
    for (int i = 0; i < 1000; ++i)
        events.push_back(event(i));
    size_t listed = 0;
    while (listed + events.size() <= 65535) {
        ASSERT_TRUE(queue.append(events.data(), events.size()));
        listed += events.size();
    }
    ASSERT_TRUE(queue.append(events.data(), 65535 - listed - 1));
    // One place left: a pair does not fit and leaves nothing behind; one event does.
    EXPECT_FALSE(queue.append(events.data(), 2));
    EXPECT_TRUE(queue.append(event(-1)));
    EXPECT_FALSE(queue.append(event(-2)));

    ASSERT_TRUE(queue.get(1000).isValid());
    EXPECT_TRUE(queue.append(event(-3)));
    size_t taken = 0;
    FsEvent last;
    for (FsEvent e = queue.get(0); e.isValid(); e = queue.get(0)) {
        ++taken;
        last = std::move(e);
    }
    // Every count had its event and every event its count.
    EXPECT_EQ(taken, 65535u);
    EXPECT_EQ(*last.path, L"p-3");
    EXPECT_EQ(queue.lastError(), QUEUE_TIMEOUT);
}

TEST(EventQueue, ManyProducersOneConsumerEveryEventOnceInOrder) {
    EventQueue queue(L"vigilQueue");
    constexpr int kThreads = 4;
    constexpr int kPerThread = 40000;  // together more than the queue holds
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&queue, t] {
            for (int i = 0; i < kPerThread;) {
                // Batches of 1 to 3 events; a full queue is retried.
                const int n = std::min(1 + i % 3, kPerThread - i);
                std::vector<FsEvent> batch;
                for (int k = 0; k < n; ++k)
                    batch.emplace_back(std::to_wstring(t) + L":" + std::to_wstring(i + k),
                                       FS_ACTION_MODIFIED);
                if (queue.append(batch.data(), batch.size()))
                    i += n;
                else
                    std::this_thread::yield();
            }
        });
    }
    std::vector<int> next(kThreads, 0);
    int received = 0;
    while (received < kThreads * kPerThread) {
        FsEvent e = queue.get(30000);
        ASSERT_TRUE(e.isValid()) << "after " << received << " events";
        const size_t colon = e.path->find(L':');
        const int t = std::stoi(e.path->substr(0, colon));
        const int i = std::stoi(e.path->substr(colon + 1));
        ASSERT_EQ(i, next[t]) << "thread " << t;
        ++next[t];
        ++received;
    }
    for (auto& p : producers)
        p.join();
    EXPECT_TRUE(queue.get(0).isEmpty());
}
