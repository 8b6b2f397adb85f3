// The plugin as a host runs it: loaded from the built bundle, fed the host's float samples in
// blocks of any size, with the sliders moved between blocks.

#include "plugin_host.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <numeric>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace lumivox::plugin::test {
namespace {

    constexpr double sampleRate = 44100.0;
    constexpr std::size_t frameTotal = 20000;

    struct Signals {
        std::vector<float> carrier = hostSamples(testCarrier(frameTotal, sampleRate));
        std::vector<float> modulator = hostSamples(testModulator(frameTotal, sampleRate));
    };

    const Signals& signals()
    {
        static const Signals made;
        return made;
    }

    // Runs the whole recording through a new instance in blocks of the given sizes, taken in turn.
    std::vector<float> runInBlocks(const PluginLibrary& library,
        const std::vector<std::size_t>& sizes, const Controls& controls,
        std::size_t frameCount = frameTotal)
    {
        const std::size_t largest = *std::max_element(sizes.begin(), sizes.end());
        PluginInstance instance(library, sampleRate, largest);
        instance.controls = controls;
        std::vector<float> result;
        std::size_t turn = 0;
        for (std::size_t start = 0; start < frameCount;) {
            const std::size_t frames = std::min(sizes[turn++ % sizes.size()], frameCount - start);
            instance.runBlock(std::span(signals().carrier).subspan(start, frames),
                std::span(signals().modulator).subspan(start, frames), result);
            start += frames;
        }
        return result;
    }

    bool sameBits(const std::vector<float>& a, const std::vector<float>& b)
    {
        return a.size() == b.size()
            && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
    }

    class PluginHost : public ::testing::Test {
    protected:
        PluginLibrary library;
    };

    TEST_F(PluginHost, OffersOnePluginUnderItsUri)
    {
        ASSERT_NE(library.descriptor, nullptr);
        EXPECT_STREQ(library.descriptor->URI, pluginUri.c_str());
        EXPECT_EQ(library.second, nullptr);
    }

    TEST_F(PluginHost, ReportsNoLatencyAndMakesSound)
    {
        const std::vector<float> out = runInBlocks(library, { 512 }, {});
        const double energy = std::inner_product(out.begin(), out.end(), out.begin(), 0.0);
        EXPECT_GT(energy / static_cast<double>(out.size()), 1e-4) << "the plugin is silent";
        PluginInstance instance(library, sampleRate, 16);
        instance.runBlock(std::span(signals().carrier).first(16),
            std::span(signals().modulator).first(16), instance.out);
        EXPECT_EQ(instance.latency, 0.0F);
    }

    // Any run of block sizes from 1 to 8192 frames gives the bits of one long block.
    struct BlockSplit {
        const char* name;
        std::vector<std::size_t> sizes;
        Controls controls;
    };

    class BlockSplits : public PluginHost, public ::testing::WithParamInterface<BlockSplit> { };

    TEST_P(BlockSplits, GiveTheOutputOfOneLongBlock)
    {
        const BlockSplit& split = GetParam();
        const std::vector<float> whole = runInBlocks(library, { frameTotal }, split.controls);
        const std::vector<float> pieces = runInBlocks(library, split.sizes, split.controls);
        ASSERT_EQ(pieces.size(), whole.size());
        std::size_t differing = 0;
        for (std::size_t i = 0; i < whole.size(); ++i)
            differing += std::memcmp(&whole[i], &pieces[i], sizeof(float)) != 0 ? 1 : 0;
        EXPECT_EQ(differing, 0U) << "of " << whole.size() << " frames";
    }

    INSTANTIATE_TEST_SUITE_P(PluginHost, BlockSplits,
        ::testing::Values(
            BlockSplit { "OddSizesAtTheDefaults", { 1, 7, 64, 8192, 333, 4097, 2 }, {} },
            BlockSplit { "AroundThePieceLength", { 2047, 2048, 2049, 1, 4096 },
                { 30.0F, 40.0F, 50.0F, 0.0F } },
            BlockSplit {
                "SingleFramesThenTheLargest", { 1, 1, 1, 8192, 5 }, { 0.0F, 0.0F, 80.0F, 70.0F } },
            BlockSplit {
                "ThirteenAtATimeWithEverySlider", { 13 }, { 55.5F, 85.0F, 64.0F, 33.0F } }),
        [](const auto& row) { return std::string(row.param.name); });

    // A slider move is heard from the next block on, at once and in full, as in the window's
    // preview, which applies the sliders before each block and glides none of them.
    TEST_F(PluginHost, AppliesASliderMoveAtTheNextBlockWithoutGliding)
    {
        const std::size_t half = frameTotal / 2;
        const std::vector<float> steady = runInBlocks(library, { 1000 }, {});

        PluginInstance instance(library, sampleRate, 1000);
        std::vector<float> moved;
        for (std::size_t start = 0; start < frameTotal; start += 1000) {
            if (start == half)
                instance.controls.gain = 100.0F; // twice the gain of 50
            instance.runBlock(std::span(signals().carrier).subspan(start, 1000),
                std::span(signals().modulator).subspan(start, 1000), moved);
        }
        ASSERT_EQ(moved.size(), steady.size());
        std::size_t before = 0;
        std::size_t after = 0;
        for (std::size_t i = 0; i < half; ++i)
            before += moved[i] != steady[i] ? 1 : 0;
        for (std::size_t i = half; i < frameTotal; ++i)
            after += moved[i] != 2.0F * steady[i] ? 1 : 0;
        EXPECT_EQ(before, 0U) << "frames changed before the move";
        EXPECT_EQ(after, 0U) << "frames after the move not exactly twice as loud";
    }

    // Positions beyond the sliders' ends, or not numbers, sound as the nearest end (0 for NaN).
    struct OutOfRange {
        const char* name;
        Controls given;
        Controls meant;
    };

    class OutOfRangePositions : public PluginHost,
                                public ::testing::WithParamInterface<OutOfRange> { };

    TEST_P(OutOfRangePositions, SoundAsTheNearestEnd)
    {
        const std::vector<float> given = runInBlocks(library, { 4096 }, GetParam().given, 8192);
        const std::vector<float> meant = runInBlocks(library, { 4096 }, GetParam().meant, 8192);
        EXPECT_TRUE(sameBits(given, meant));
    }

    constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();

    INSTANTIATE_TEST_SUITE_P(PluginHost, OutOfRangePositions,
        ::testing::Values(OutOfRange { "ClearanceAbove", { 250.0F, 0.0F, 50.0F, 0.0F },
                              { 100.0F, 0.0F, 50.0F, 0.0F } },
            OutOfRange {
                "VaguenessBelow", { 0.0F, -20.0F, 50.0F, 0.0F }, { 0.0F, 0.0F, 50.0F, 0.0F } },
            OutOfRange { "GainAbove", { 0.0F, 0.0F, 1000.0F, 0.0F }, { 0.0F, 0.0F, 100.0F, 0.0F } },
            OutOfRange {
                "GainNotANumber", { 0.0F, 0.0F, notANumber, 0.0F }, { 0.0F, 0.0F, 0.0F, 0.0F } },
            OutOfRange {
                "ClarityAbove", { 0.0F, 0.0F, 50.0F, 101.0F }, { 0.0F, 0.0F, 50.0F, 100.0F } }),
        [](const auto& row) { return std::string(row.param.name); });

    // Activated again after a pause, the plugin starts from silence as a new instance does.
    TEST_F(PluginHost, StartsFromSilenceWhenActivatedAgain)
    {
        const std::size_t half = frameTotal / 2;
        PluginInstance instance(library, sampleRate, half);
        std::vector<float> first;
        instance.runBlock(std::span(signals().carrier).first(half),
            std::span(signals().modulator).first(half), first);
        instance.reactivate();
        std::vector<float> again;
        instance.runBlock(std::span(signals().carrier).first(half),
            std::span(signals().modulator).first(half), again);
        EXPECT_TRUE(sameBits(first, again));
    }

#if defined(__SSE__)
    // The caller's floating-point settings come back after every run(). (The six low bits are
    // flags that any arithmetic may raise, the test's own included.)
    TEST_F(PluginHost, RestoresTheCallersFloatingPointSettings)
    {
        constexpr unsigned int settingBits = ~0x3FU;
        const unsigned int callers = _mm_getcsr();
        constexpr unsigned int flushBits = 0x8040; // flush to zero, denormals are zero
        constexpr unsigned int roundTowardZero = 0x6000;
        const unsigned int unusual = (callers & ~flushBits) | roundTowardZero;
        PluginInstance instance(library, sampleRate, 777);
        std::vector<float> out;
        std::size_t changed = 0;
        for (std::size_t start = 0; start < 7770; start += 777) {
            _mm_setcsr(unusual);
            instance.runBlock(std::span(signals().carrier).subspan(start, 777),
                std::span(signals().modulator).subspan(start, 777), out);
            changed += (_mm_getcsr() & settingBits) != (unusual & settingBits) ? 1 : 0;
            _mm_setcsr(callers);
        }
        EXPECT_EQ(changed, 0U) << "calls of run() that left the caller's MXCSR changed";
    }

    // A carrier of subnormal floats is taken as silence inside run(), whatever the voice, so
    // that subnormal numbers never reach the filters.
    TEST_F(PluginHost, TakesSubnormalSamplesAsZero)
    {
        // The largest subnormal float: were it read, the output would be a normal number.
        const float tiny = std::nextafter(std::numeric_limits<float>::min(), 0.0F);
        ASSERT_EQ(std::fpclassify(tiny), FP_SUBNORMAL);
        PluginInstance instance(library, sampleRate, frameTotal);
        instance.controls.gain = 100.0F;
        // A square wave at the test carrier's pitch, all of it subnormal.
        std::vector<float> carrier(frameTotal);
        for (std::size_t i = 0; i < frameTotal; ++i)
            carrier[i] = signals().carrier[i] >= 0.0F ? tiny : -tiny;
        std::vector<float> out;
        instance.runBlock(carrier, signals().modulator, out);
        const auto nonZero
            = std::count_if(out.begin(), out.end(), [](float v) { return v != 0.0F; });
        EXPECT_EQ(nonZero, 0);
    }
#endif

} // namespace
} // namespace lumivox::plugin::test
