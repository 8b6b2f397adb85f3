#include "block_ring.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace lumivox::job {

TEST(BlockRing, HandsBlocksOverInOrderAndEndsAfterTheLastWhenFinished)
{
    BlockRing<int> ring(std::vector<int>(3));
    std::thread producer([&ring] {
        for (int value = 1; value <= 50; ++value) {
            int* block = ring.emptyBlock();
            ASSERT_NE(block, nullptr);
            *block = value;
            ring.publish();
        }
        ring.finish();
    });
    std::vector<int> received;
    while (int* block = ring.filledBlock()) {
        received.push_back(*block);
        ring.release();
    }
    producer.join();
    ASSERT_EQ(received.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(received[static_cast<std::size_t>(i)], i + 1);
}

TEST(BlockRing, GivesEachFreeBlockOnceAndNoMoreThanItHolds)
{
    BlockRing<int> ring(std::vector<int>(3));
    std::vector<int*> given;
    for (int i = 0; i < 3; ++i) {
        given.push_back(ring.emptyBlock());
        ring.publish();
    }
    EXPECT_NE(given[0], given[1]);
    EXPECT_NE(given[1], given[2]);
    EXPECT_NE(given[0], given[2]);
    // A fourth waits for a block to come back, until the ring is cancelled.
    std::thread canceller([&ring] { ring.cancel(); });
    EXPECT_EQ(ring.emptyBlock(), nullptr);
    canceller.join();
    EXPECT_EQ(ring.filledBlock(), nullptr);
}

TEST(BlockRing, CancellingWakesAConsumerWaitingOnAnEmptyRing)
{
    BlockRing<int> ring(std::vector<int>(2));
    int* seen = &ring.allBlocks()[0];
    std::thread consumer([&ring, &seen] { seen = ring.filledBlock(); });
    ring.cancel();
    consumer.join();
    EXPECT_EQ(seen, nullptr);
    ring.reset();
    *ring.emptyBlock() = 7;
    ring.publish();
    ASSERT_NE(ring.filledBlock(), nullptr);
    EXPECT_EQ(*ring.filledBlock(), 7);
}

} // namespace lumivox::job
