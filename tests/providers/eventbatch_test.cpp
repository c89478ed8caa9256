#include "common/eventbatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "testsupport.h"

TEST(EventBatch, RepeatedModificationsFoldUntilAnotherEventOfThePath) {
    EventBatch batch;
    EXPECT_EQ(batch.msUntilDue(), -1);
    batch.add(0, FS_ACTION_ADDED, L"a");
    batch.add(0, FS_ACTION_MODIFIED, L"a");
    batch.add(0, FS_ACTION_MODIFIED, L"b");
    batch.add(0, FS_ACTION_MODIFIED, L"a");  // folded into the first MODIFIED of a
    batch.add(1, FS_ACTION_OLD_NAME, L"a");
    batch.add(1, FS_ACTION_NEW_NAME, L"a");
    batch.add(1, FS_ACTION_MODIFIED, L"a");  // a new entry under that name: kept
    batch.add(0, FS_ACTION_MODIFIED, L"b");  // folded
    ASSERT_EQ(batch.size(), 6u);
    const uint32_t expected[] = {FS_ACTION_ADDED,    FS_ACTION_MODIFIED, FS_ACTION_MODIFIED,
                                 FS_ACTION_OLD_NAME, FS_ACTION_NEW_NAME, FS_ACTION_MODIFIED};
    for (size_t i = 0; i < batch.size(); ++i)
        EXPECT_EQ(batch.events()[i].event.action, expected[i]) << i;
    EXPECT_EQ(batch.events()[5].root, 1u);
    EXPECT_GE(batch.msUntilDue(), 0);

    batch.clear();
    batch.add(0, FS_ACTION_MODIFIED, L"a");  // nothing of the last batch folds it
    EXPECT_EQ(batch.size(), 1u);
    // A full batch is due at once.
    for (size_t i = 1; i < EventBatch::kMaxEvents; ++i)
        batch.add(0, FS_ACTION_ADDED, std::to_wstring(i));
    EXPECT_TRUE(batch.due());
}

TEST(EventBatch, AChangeAfterAQuietWindowIsDueAtOnceABurstCollects) {
    EventBatch batch;
    batch.add(0, FS_ACTION_ADDED, L"a");
    EXPECT_TRUE(batch.due()) << "nothing came before it";
    const auto start = std::chrono::steady_clock::now();
    batch.clear();
    batch.add(0, FS_ACTION_ADDED, L"b");
    const bool dueAtOnce = batch.due();
    if (std::chrono::steady_clock::now() - start < EventBatch::kWindow) {
        EXPECT_FALSE(dueAtOnce) << "right behind a delivery it collects for a window";
    }
    EXPECT_TRUE(testsupport::pollUntil([&] { return batch.due(); }, 5000));
}
