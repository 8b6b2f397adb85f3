// The block path shared between the calling thread and the engine's worker must give
// processSample's bits, and the worker must come and go cleanly. These tests also run under
// ThreadSanitizer (scripts/tsan.sh).
#include "block_path.h"
#include "engine_signals.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace lumivox::engine::testing {
namespace {

    // Whole job blocks (2048 frames), longer and odd blocks, and blocks short enough to stay on
    // the calling thread.
    constexpr std::size_t blockLengths[] = { 2048, 2048, 4113, 1023, 2048, 1500, 333, 5000, 2048 };

#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer slows every access down tens of times: it checks the unit processBlock
    // uses, on less audio.
    constexpr std::size_t seconds = 40;
    std::vector<VectorUnit> unitsToCheck() { return { preferredVectorUnit() }; }
#else
    constexpr std::size_t seconds = 150;
    std::vector<VectorUnit> unitsToCheck() { return vectorUnitsOfThisMachine(); }
#endif

    bool sameBits(
        const std::array<double, bandCount>& want, const std::array<double, bandCount>& got)
    {
        return std::equal(want.begin(), want.end(), got.begin(), [](double a, double b) {
            return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
        });
    }

} // namespace

TEST(TwoThreads, MatchProcessSampleBitForBitOverMinutesWithParametersChangedBetweenBlocks)
{
    if (std::thread::hardware_concurrency() < 2)
        GTEST_SKIP() << "one core only";
    const Signals signals = musicalSignals(seconds * sampleRate);
    const std::size_t frameCount = signals.carrier.size();

    VocoderEngine reference;
    std::vector<double> want(frameCount);
    std::vector<std::array<double, bandCount>> wantLevels;
    for (std::size_t start = 0, block = 0; start < frameCount; ++block) {
        const std::size_t length
            = std::min(blockLengths[block % std::size(blockLengths)], frameCount - start);
        apply(reference, settingsForBlock(block));
        for (std::size_t t = start; t < start + length; ++t)
            want[t] = reference.processSample(signals.carrier[t], signals.modulator[t]);
        wantLevels.push_back(reference.bandLevels());
        start += length;
    }

    for (VectorUnit unit : unitsToCheck()) {
        SCOPED_TRACE(vectorUnitName(unit));
        VocoderEngine engine;
        ASSERT_TRUE(engine.setTwoThreads(true));
        std::vector<double> got(frameCount);
        std::size_t levelsDiffering = 0;
        for (std::size_t start = 0, block = 0; start < frameCount; ++block) {
            const std::size_t length
                = std::min(blockLengths[block % std::size(blockLengths)], frameCount - start);
            apply(engine, settingsForBlock(block));
            processBlockWith(unit, engine, { signals.carrier.data() + start, length },
                { signals.modulator.data() + start, length }, { got.data() + start, length });
            if (!sameBits(wantLevels[block], engine.bandLevels()))
                ++levelsDiffering;
            start += length;
        }
        EXPECT_EQ(differingSamples(want, got), 0u);
        EXPECT_EQ(levelsDiffering, 0u);
    }
}

TEST(TwoThreads, WorkerStartsAndStopsBetweenBlocksWithoutChangingBits)
{
    const Signals signals = musicalSignals(4 * sampleRate);
    const Settings settings { 0.6, 0.2, 1.0 };
    VocoderEngine reference;
    apply(reference, settings);
    std::vector<double> want(signals.carrier.size());
    for (std::size_t t = 0; t < want.size(); ++t)
        want[t] = reference.processSample(signals.carrier[t], signals.modulator[t]);

    std::vector<double> got(want.size());
    {
        VocoderEngine engine;
        apply(engine, settings);
        constexpr std::size_t length = 2048;
        for (std::size_t start = 0, block = 0; start < got.size(); start += length, ++block) {
            const bool wanted = block % 3 != 2;
            EXPECT_EQ(
                engine.setTwoThreads(wanted), wanted && std::thread::hardware_concurrency() > 1);
            const std::size_t frames = std::min(length, got.size() - start);
            engine.processBlock({ signals.carrier.data() + start, frames },
                { signals.modulator.data() + start, frames }, { got.data() + start, frames });
        }
        engine.setTwoThreads(true);
    } // destroyed with its worker running: the destructor joins it
    EXPECT_EQ(differingSamples(want, got), 0u);
}

} // namespace lumivox::engine::testing

namespace lumivox::engine::testing {
namespace {

    using std::chrono::microseconds;

    // Runs one shared run with the given wait and counts the runs then kept on one thread.
    int aloneRunsAfter(SharingBackoff& backoff, int waitedMicroseconds, bool workerWoken = false)
    {
        backoff.afterSharedRun(workerWoken, microseconds(waitedMicroseconds), microseconds(100));
        int alone = 0;
        while (!backoff.shareNext())
            ++alone;
        return alone;
    }

} // namespace

TEST(SharingBackoff, LagsLengthenTheSpellsOnOneThreadAndRunsThatShareWellShortenThem)
{
    SharingBackoff backoff;
    EXPECT_TRUE(backoff.shareNext());
    // A wait of exactly a quarter of the run is still sharing that pays.
    EXPECT_EQ(aloneRunsAfter(backoff, 25), 0);
    // A lag while the worker had to be woken says nothing of its core.
    EXPECT_EQ(aloneRunsAfter(backoff, 90, true), 0);
    for (int spell : { 4, 8, 16, 32, 64, 128, 256, 256 })
        EXPECT_EQ(aloneRunsAfter(backoff, 26), spell);
    EXPECT_EQ(aloneRunsAfter(backoff, 0), 0);
    EXPECT_EQ(aloneRunsAfter(backoff, 0), 0);
    EXPECT_EQ(aloneRunsAfter(backoff, 50), 64);
    for (int i = 0; i < 10; ++i)
        aloneRunsAfter(backoff, 0);
    EXPECT_EQ(aloneRunsAfter(backoff, 50), SharingBackoff::shortestSpell);
}

} // namespace lumivox::engine::testing
