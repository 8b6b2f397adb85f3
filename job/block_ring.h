#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace lumivox::job {

// A fixed ring of whole blocks handed from one thread (the producer) to another (the consumer) in
// order. Each side waits, blocking, for a block to fill or to use; nothing spins. Either side can
// cancel, which wakes the other and makes every later wait return nullptr.
template <typename Block> class BlockRing {
public:
    explicit BlockRing(std::vector<Block> ringBlocks) // at least one block
        : blocks(std::move(ringBlocks))
    {
    }
    BlockRing(const BlockRing&) = delete;
    BlockRing& operator=(const BlockRing&) = delete;

    // Empties the ring for another run; only while neither side is using it.
    void reset()
    {
        const std::lock_guard lock(mutex);
        published = 0;
        released = 0;
        finished = false;
        cancelled = false;
    }

    // Producer: waits for a free block to fill; nullptr once cancelled.
    Block* emptyBlock()
    {
        std::unique_lock lock(mutex);
        spaceFreed.wait(lock, [this] { return cancelled || published - released < size(); });
        return cancelled ? nullptr : &blocks[published % size()];
    }

    // Producer: hands the block emptyBlock gave over to the consumer.
    void publish()
    {
        {
            const std::lock_guard lock(mutex);
            ++published;
        }
        blockPublished.notify_one();
    }

    // Producer: no more blocks will come.
    void finish()
    {
        {
            const std::lock_guard lock(mutex);
            finished = true;
        }
        blockPublished.notify_one();
    }

    // Consumer: waits for the next block; nullptr once cancelled, or finished with every block
    // used.
    Block* filledBlock()
    {
        std::unique_lock lock(mutex);
        blockPublished.wait(lock, [this] { return cancelled || finished || released < published; });
        if (cancelled || released == published)
            return nullptr;
        return &blocks[released % size()];
    }

    // Consumer: gives the block filledBlock gave back to the producer.
    void release()
    {
        {
            const std::lock_guard lock(mutex);
            ++released;
        }
        spaceFreed.notify_one();
    }

    void cancel()
    {
        {
            const std::lock_guard lock(mutex);
            cancelled = true;
        }
        spaceFreed.notify_all();
        blockPublished.notify_all();
    }

    bool isCancelled()
    {
        const std::lock_guard lock(mutex);
        return cancelled;
    }

    std::vector<Block>& allBlocks() { return blocks; }

private:
    std::uint64_t size() const { return blocks.size(); }

    std::vector<Block> blocks;
    std::mutex mutex;
    std::condition_variable spaceFreed;
    std::condition_variable blockPublished;
    std::uint64_t published = 0;
    std::uint64_t released = 0;
    bool finished = false;
    bool cancelled = false;
};

} // namespace lumivox::job
