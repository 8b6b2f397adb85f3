#include "failing_allocator.h"
#include "vocoder_engine.h"

#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <new>
#include <utility>
#include <vector>

namespace lumivox::engine {
namespace {

    using testing::AllocationFailure;
    using testing::allocationsMade;
    using testing::blocksHeld;

    std::vector<double> someCarrier()
    {
        std::vector<double> carrier(4096);
        for (std::size_t n = 0; n < carrier.size(); ++n)
            carrier[n] = static_cast<double>(n % 97) * 300.0 - 14000.0;
        return carrier;
    }

    std::vector<double> someModulator()
    {
        std::vector<double> modulator(4096);
        for (std::size_t n = 0; n < modulator.size(); ++n)
            modulator[n] = static_cast<double>(n * 37 % 101) / 50.0 - 1.0;
        return modulator;
    }

    long allocationsToBuildAnEngine()
    {
        const long before = allocationsMade();
        const VocoderEngine engine;
        return allocationsMade() - before;
    }

} // namespace

TEST(VocoderEngineMemory, ConstructionFailingAtAnyAllocationThrowsAndReleasesEverything)
{
    const long total = allocationsToBuildAnEngine();
    ASSERT_GE(total, 3 + 64 + 32 * 2); // the bank vectors, the band cascades, the envelopes
    for (long failAt = 0; failAt < total; ++failAt) {
        const long heldBefore = blocksHeld();
        bool threw = false;
        try {
            const AllocationFailure scope(failAt);
            const VocoderEngine engine;
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        EXPECT_TRUE(threw) << "failing allocation " << failAt;
        EXPECT_EQ(blocksHeld(), heldBefore) << "failing allocation " << failAt;
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
        const long heldBefore = blocksHeld();
        {
            const AllocationFailure scope(failAt);
            EXPECT_THROW(failing.buildFilterBank(), std::bad_alloc)
                << "failing allocation " << failAt;
        }
        EXPECT_EQ(blocksHeld(), heldBefore) << "failing allocation " << failAt;
        EXPECT_EQ(failing.bank().carrierBands.size(), 32u);
    }
}

TEST(VocoderEngineMemory, ProcessingAllocatesNothing)
{
    VocoderEngine engine;
    engine.setVagueness(0.8);
    engine.setClearance(0.4);
    const long before = allocationsMade();
    const AllocationFailure scope(0); // any allocation now throws
    for (int n = 0; n < 1000; ++n)
        engine.processSample((n % 50) * 400.0 - 10000.0, ((n * 13) % 29) / 14.0 - 1.0);
    EXPECT_EQ(allocationsMade(), before);
}

TEST(VocoderEngineMemory, BlocksAndTheirTwoHalvesAllocateNothing)
{
    VocoderEngine engine;
    engine.prepareHalves();
    const std::vector<double> carrier = someCarrier();
    const std::vector<double> modulator = someModulator();
    std::vector<double> output(carrier.size());
    std::vector<double> handOver(carrier.size() * VocoderEngine::handOverValues);
    const long before = allocationsMade();
    const AllocationFailure scope(0);
    for (int block = 0; block < 20; ++block) {
        engine.setVagueness(block < 10 ? 0.8 : 0.0); // both ways of splitting the work
        if (block % 2 == 0) {
            engine.processBlock(carrier, modulator, output);
        } else {
            engine.firstHalf(carrier, modulator, handOver);
            engine.secondHalf(carrier, modulator, handOver, output);
        }
    }
    EXPECT_EQ(allocationsMade(), before);
}

} // namespace lumivox::engine
