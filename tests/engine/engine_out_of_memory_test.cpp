#include "vocoder_engine.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

// A global allocator that can be told to fail the n-th allocation from now, and that counts the
// blocks currently held, so a test can see that nothing is left behind after a failure.
namespace {

long allocationsBeforeFailure = -1; // negative: never fail
long allocationsMade = 0;
long blocksHeld = 0;

} // namespace

void* operator new(std::size_t size)
{
    if (allocationsBeforeFailure == 0)
        throw std::bad_alloc();
    if (allocationsBeforeFailure > 0)
        --allocationsBeforeFailure;
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    ++allocationsMade;
    ++blocksHeld;
    return block;
}

void operator delete(void* block) noexcept
{
    if (block == nullptr)
        return;
    --blocksHeld;
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

namespace lumivox::engine {
namespace {

    long allocationsToBuildAnEngine()
    {
        const long before = allocationsMade;
        const VocoderEngine engine;
        return allocationsMade - before;
    }

    struct FailureScope {
        explicit FailureScope(long count) { allocationsBeforeFailure = count; }
        ~FailureScope() { allocationsBeforeFailure = -1; }
        FailureScope(const FailureScope&) = delete;
        FailureScope& operator=(const FailureScope&) = delete;
    };

} // namespace

TEST(VocoderEngineMemory, ConstructionFailingAtAnyAllocationThrowsAndReleasesEverything)
{
    const long total = allocationsToBuildAnEngine();
    ASSERT_GE(total, 3 + 96 * 2);
    for (long failAt = 0; failAt < total; ++failAt) {
        const long heldBefore = blocksHeld;
        bool threw = false;
        try {
            const FailureScope scope(failAt);
            const VocoderEngine engine;
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        EXPECT_TRUE(threw) << "failing allocation " << failAt;
        EXPECT_EQ(blocksHeld, heldBefore) << "failing allocation " << failAt;
    }
}

TEST(VocoderEngineMemory, FailedRebuildLeavesTheEngineAsItWas)
{
    const long total = allocationsToBuildAnEngine();
    VocoderEngine failing;
    VocoderEngine control;
    int n = 0;
    const auto frame = [&n] {
        ++n;
        return std::pair { (n % 97) * 300.0 - 14000.0, ((n * 37) % 101) / 50.0 - 1.0 };
    };
    for (long failAt = 0; failAt < total; failAt += 7) {
        for (int i = 0; i < 50; ++i) {
            const auto [carrier, modulator] = frame();
            ASSERT_EQ(failing.processSample(carrier, modulator),
                control.processSample(carrier, modulator));
        }
        const long heldBefore = blocksHeld;
        {
            const FailureScope scope(failAt);
            EXPECT_THROW(failing.buildFilterBank(), std::bad_alloc)
                << "failing allocation " << failAt;
        }
        EXPECT_EQ(blocksHeld, heldBefore) << "failing allocation " << failAt;
        EXPECT_EQ(failing.bandCount, 32);
    }
}

TEST(VocoderEngineMemory, ProcessingAllocatesNothing)
{
    VocoderEngine engine;
    engine.setVagueness(0.8);
    engine.setClearance(0.4);
    const long before = allocationsMade;
    const FailureScope scope(0); // any allocation now throws
    for (int n = 0; n < 1000; ++n)
        engine.processSample((n % 50) * 400.0 - 10000.0, ((n * 13) % 29) / 14.0 - 1.0);
    EXPECT_EQ(allocationsMade, before);
}

} // namespace lumivox::engine
