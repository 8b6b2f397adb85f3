// The two halves of the engine that work on the same frames at the same time, on two threads,
// handing each other only what joins the bands, must give processSample's bits and levels at any
// band count, switched with processBlock between blocks.
#include "band_exchange.h"
#include "band_layout.h"
#include "block_path.h"
#include "engine_signals.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace lumivox::engine::testing {
namespace {

    struct TogetherCase {
        const char* name;
        Settings settings;
        int bands; // 0 for the classic layout
    };

    void PrintTo(const TogetherCase& c, std::ostream* out) { *out << c.name; }

    // Vagueness from its least reach to its most, Instrument Clearance alone and with it, Clarity
    // beside them, on the classic bands and on layouts whose upper half is mostly padding (20),
    // wider (48) and the widest (64).
    const TogetherCase togetherCases[] = {
        { "Vagueness50Clearance30", { 0.5, 0.3, 1.0 }, 0 },
        { "Vagueness100", { 1.0, 0.0, 1.0 }, 0 },
        { "Vagueness7Clearance93", { 0.07, 0.93, 0.62 }, 0 },
        { "Clearance100Gain2", { 0.0, 1.0, 2.0 }, 0 },
        { "Clarity100Vagueness30", { 0.3, 0.2, 1.5, 1.0 }, 0 },
        { "Bands20Vagueness80Clearance40", { 0.8, 0.4, 1.0 }, 20 },
        { "Bands48Vagueness100Clearance10", { 1.0, 0.1, 1.0 }, 48 },
        { "Bands64Vagueness60", { 0.6, 0.0, 1.3 }, 64 },
    };

    // Blocks up to the exchange's capacity: odd lengths, under one chunk, a single frame.
    constexpr int capacity = 2048;
    constexpr std::size_t blockLengths[] = { 2048, 1, 333, 64, 65, 1500, 2047 };
    constexpr std::size_t framesChecked = sampleRate;

    bool sameBits(std::span<const double> want, std::span<const double> got)
    {
        return std::ranges::equal(want, got, [](double a, double b) {
            return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
        });
    }

    VocoderEngine engineFor(const TogetherCase& c)
    {
        if (c.bands == 0)
            return VocoderEngine();
        return VocoderEngine(*BandLayout::logSpaced(c.bands, 60.0, 12000.0, sampleRate));
    }

    class EngineHalvesTogether
        : public ::testing::TestWithParam<std::tuple<TogetherCase, VectorUnit>> { };

} // namespace

TEST_P(EngineHalvesTogether, OnTwoThreadsGiveProcessSampleBitsAndLevels)
{
    const auto& [testCase, unit] = GetParam();
    const Signals signals = randomSignals(framesChecked, 5);

    VocoderEngine reference = engineFor(testCase);
    apply(reference, testCase.settings);
    VocoderEngine engine = engineFor(testCase);
    apply(engine, testCase.settings);
    engine.prepareHalves();
    ASSERT_TRUE(engine.halvesShareFrames());

    BandExchange exchange(capacity);
    std::vector<double> handOver(capacity * VocoderEngine::handOverValues);
    std::vector<double> want(framesChecked);
    std::vector<double> got(framesChecked);
    std::size_t levelsDiffering = 0;
    std::size_t start = 0;
    for (std::size_t block = 0; start < framesChecked; ++block) {
        const std::size_t length
            = std::min(blockLengths[block % std::size(blockLengths)], framesChecked - start);
        for (std::size_t t = start; t < start + length; ++t)
            want[t] = reference.processSample(signals.carrier[t], signals.modulator[t]);
        const std::span<const double> carrier(signals.carrier.data() + start, length);
        const std::span<const double> modulator(signals.modulator.data() + start, length);
        const std::span<double> output(got.data() + start, length);
        if (block % 4 == 3) {
            processBlockWith(unit, engine, carrier, modulator, output);
        } else {
            exchange.reset();
            std::thread lower(
                [&] { engine.lowerHalf(carrier, modulator, handOver, exchange, unit); });
            engine.upperHalf(carrier, modulator, handOver, exchange, output, unit);
            lower.join();
        }
        levelsDiffering += sameBits(reference.bandLevels(), engine.bandLevels()) ? 0 : 1;
        start += length;
    }
    EXPECT_EQ(differingSamples(want, got), 0u);
    EXPECT_EQ(levelsDiffering, 0u);
    EXPECT_GT(std::count_if(want.begin(), want.end(), [](double y) { return y != 0.0; }),
        static_cast<std::ptrdiff_t>(framesChecked / 2));
}

// A run that stops while one side waits for the other: abandoning the exchange ends the wait.
TEST(EngineHalvesTogetherStop, AnAbandonedExchangeEndsTheWaitingSide)
{
    const Signals signals = randomSignals(capacity, 9);
    VocoderEngine engine;
    apply(engine, { 0.5, 0.3, 1.0 });
    engine.prepareHalves();
    BandExchange exchange(capacity);
    std::vector<double> handOver(capacity * VocoderEngine::handOverValues);
    std::thread lower([&] {
        engine.lowerHalf(signals.carrier, signals.modulator, handOver, exchange,
            engine.vectorChoice().unit);
    });
    exchange.abandon(); // the upper side never comes
    lower.join();
    EXPECT_TRUE(exchange.abandoned());
    exchange.reset();
    EXPECT_FALSE(exchange.abandoned());
}

// The halves' work areas are made only when asked for: most engines (the plugin's, a live run's)
// never split, and a half of an engine that was not prepared refuses to run.
TEST(EngineHalvesTogetherChoice, HalvesRunOnlyOnceTheirWorkAreasAreMade)
{
    const Signals signals = randomSignals(64, 4);
    VocoderEngine engine;
    std::vector<double> handOver(64 * VocoderEngine::handOverValues);
    EXPECT_THROW(engine.firstHalf(signals.carrier, signals.modulator, handOver), std::logic_error);
    engine.prepareHalves();
    EXPECT_NO_THROW(engine.firstHalf(signals.carrier, signals.modulator, handOver));
}

// Settings the halves cannot share frames for keep to the halves a block apart.
TEST(EngineHalvesTogetherChoice, OnlyVaguenessOrClearanceWithoutTheBlurShareFrames)
{
    VocoderEngine engine;
    EXPECT_FALSE(engine.halvesShareFrames()); // nothing joins the bands
    apply(engine, { 0.5, 0.0, 1.0 });
    EXPECT_TRUE(engine.halvesShareFrames());
    apply(engine, { 0.0, 0.2, 1.0 });
    EXPECT_TRUE(engine.halvesShareFrames());
    apply(engine, { 0.5, 0.3, 1.0, 0.0, 3 });
    EXPECT_FALSE(engine.halvesShareFrames()); // the harmonic bands' blur needs every level
    VocoderEngine few(*BandLayout::logSpaced(8, 100.0, 8000.0, sampleRate));
    apply(few, { 0.5, 0.3, 1.0 });
    EXPECT_FALSE(few.halvesShareFrames()); // every band in the lower half
}

INSTANTIATE_TEST_SUITE_P(EveryUnit, EngineHalvesTogether,
    ::testing::Combine(
        ::testing::ValuesIn(togetherCases), ::testing::ValuesIn(vectorUnitsOfThisMachine())),
    [](const auto& param) {
        return std::string(std::get<0>(param.param).name) + "_"
            + vectorUnitName(std::get<1>(param.param));
    });

} // namespace lumivox::engine::testing
