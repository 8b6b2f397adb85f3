// The two halves of the engine, run a block apart as two threads run them and switched with
// processBlock between blocks, must give processSample's bits and levels, whichever way the
// settings make them split the work.
#include "block_path.h"
#include "engine_signals.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <gtest/gtest.h>
#include <ostream>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace lumivox::engine::testing {
namespace {

    struct HalvesCase {
        const char* name;
        Settings settings;
        bool noise; // full-scale noise instead of music
    };

    void PrintTo(const HalvesCase& halvesCase, std::ostream* out) { *out << halvesCase.name; }

    // The default sliders first (gain 1.0, the path every user takes), then the other corners and
    // positions in between.
    const HalvesCase halvesCases[] = {
        { "Default", { 0.0, 0.0, 1.0 }, false },
        { "DefaultOnNoise", { 0.0, 0.0, 1.0 }, true },
        { "Vagueness50Clearance30", { 0.5, 0.3, 1.0 }, false },
        { "Vagueness100", { 1.0, 0.0, 1.0 }, false },
        { "Clearance100Gain2", { 0.0, 1.0, 2.0 }, false },
        { "AllFull", { 1.0, 1.0, 2.0 }, true },
        { "Vagueness73Clearance41", { 0.73, 0.41, 1.34 }, false },
        { "Vagueness7Clearance93", { 0.07, 0.93, 0.62 }, false },
        { "Clarity60", { 0.0, 0.0, 1.0, 0.6 }, false },
        { "Clarity100Vagueness30", { 0.3, 0.2, 1.5, 1.0 }, true },
        { "HarmonicBlur3", { 0.0, 0.0, 1.0, 0.0, 3 }, false },
        { "HarmonicBlur3Vagueness30Clearance20", { 0.3, 0.2, 1.0, 0.0, 3 }, true },
        { "HarmonicBlur1Vagueness100", { 1.0, 0.0, 1.0, 0.0, 1 }, false },
        { "HarmonicBlur8Clearance50", { 0.0, 0.5, 1.0, 0.0, 8 }, true },
    };

    // Job blocks, odd lengths, lengths under one chunk and a single frame.
    constexpr std::size_t blockLengths[] = { 2048, 2048, 4113, 1, 333, 2048, 64, 65, 1500 };
    constexpr std::size_t framesChecked = 3 * sampleRate / 2;

    using Levels = std::vector<double>;

    bool sameBits(std::span<const double> want, std::span<const double> got)
    {
        return std::ranges::equal(want, got, [](double a, double b) {
            return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
        });
    }

    std::vector<std::size_t> blockStarts(std::size_t frameCount)
    {
        std::vector<std::size_t> starts;
        for (std::size_t start = 0, block = 0; start < frameCount; ++block) {
            starts.push_back(start);
            start += std::min(blockLengths[block % std::size(blockLengths)], frameCount - start);
        }
        starts.push_back(frameCount);
        return starts;
    }

    class EngineHalves : public ::testing::TestWithParam<std::tuple<HalvesCase, VectorUnit>> { };

} // namespace

TEST_P(EngineHalves, RunABlockApartAndSwitchedWithProcessBlockGiveProcessSampleBits)
{
    const auto& [testCase, unit] = GetParam();
    const Signals signals
        = testCase.noise ? randomSignals(framesChecked, 11) : musicalSignals(framesChecked);
    const std::vector<std::size_t> starts = blockStarts(framesChecked);
    const std::size_t blockCount = starts.size() - 1;

    VocoderEngine reference;
    apply(reference, testCase.settings);
    std::vector<double> want(framesChecked);
    std::vector<Levels> wantLevels;
    for (std::size_t block = 0; block < blockCount; ++block) {
        for (std::size_t t = starts[block]; t < starts[block + 1]; ++t)
            want[t] = reference.processSample(signals.carrier[t], signals.modulator[t]);
        wantLevels.emplace_back(reference.bandLevels().begin(), reference.bandLevels().end());
    }

    VocoderEngine engine;
    apply(engine, testCase.settings);
    engine.prepareHalves();
    std::vector<double> got(framesChecked);
    std::vector<std::vector<double>> levelRows(2);
    const auto span = [](const std::vector<double>& v, std::size_t first, std::size_t end) {
        return std::span<const double>(v.data() + first, end - first);
    };
    const auto firstHalf = [&](std::size_t block) {
        std::vector<double>& rows = levelRows[block % 2];
        rows.assign((starts[block + 1] - starts[block]) * VocoderEngine::handOverValues, 1.0);
        engine.firstHalf(span(signals.carrier, starts[block], starts[block + 1]),
            span(signals.modulator, starts[block], starts[block + 1]), rows, unit);
    };
    std::size_t levelsDiffering = 0;
    const auto secondHalf = [&](std::size_t block) {
        engine.secondHalf(span(signals.carrier, starts[block], starts[block + 1]),
            span(signals.modulator, starts[block], starts[block + 1]), levelRows[block % 2],
            { got.data() + starts[block], starts[block + 1] - starts[block] }, unit);
        levelsDiffering += sameBits(wantLevels[block], engine.bandLevels()) ? 0 : 1;
    };

    // Runs of five blocks in two halves, the first half one block ahead, then two blocks through
    // processBlock.
    for (std::size_t first = 0; first < blockCount; first += 7) {
        const std::size_t split = std::min(first + 5, blockCount);
        firstHalf(first);
        for (std::size_t block = first + 1; block < split; ++block) {
            firstHalf(block);
            secondHalf(block - 1);
        }
        secondHalf(split - 1);
        for (std::size_t block = split; block < std::min(first + 7, blockCount); ++block) {
            processBlockWith(unit, engine, span(signals.carrier, starts[block], starts[block + 1]),
                span(signals.modulator, starts[block], starts[block + 1]),
                { got.data() + starts[block], starts[block + 1] - starts[block] });
            levelsDiffering += sameBits(wantLevels[block], engine.bandLevels()) ? 0 : 1;
        }
    }
    EXPECT_EQ(differingSamples(want, got), 0u);
    EXPECT_EQ(levelsDiffering, 0u);
    // A check whose output is all zeros would see nothing.
    EXPECT_GT(std::count_if(want.begin(), want.end(), [](double y) { return y != 0.0; }),
        static_cast<std::ptrdiff_t>(framesChecked / 2));
}

// Settings may change between segments, once both halves have done the same frames, as a run that
// goes back to one thread for a while or a preview moves them.
TEST(EngineHalvesSettings, FollowSettingsChangedBetweenSegmentsOnEveryUnit)
{
    constexpr std::size_t blockLength = 2048;
    constexpr std::size_t blocksPerSegment = 3;
    const Signals signals = musicalSignals(4 * sampleRate);
    const std::size_t frameCount = signals.carrier.size();

    VocoderEngine reference;
    std::vector<double> want(frameCount);
    for (std::size_t start = 0, block = 0; start < frameCount; start += blockLength, ++block) {
        if (block % (blocksPerSegment + 1) == 0
            || block % (blocksPerSegment + 1) == blocksPerSegment)
            apply(reference, settingsForBlock(block));
        for (std::size_t t = start; t < std::min(start + blockLength, frameCount); ++t)
            want[t] = reference.processSample(signals.carrier[t], signals.modulator[t]);
    }

    for (VectorUnit unit : vectorUnitsOfThisMachine()) {
        SCOPED_TRACE(vectorUnitName(unit));
        VocoderEngine engine;
        engine.prepareHalves();
        std::vector<double> got(frameCount);
        std::vector<double> handOver[2];
        std::size_t pending = 0; // the block whose second half is still to run, plus one
        const auto secondHalf = [&](std::size_t block) {
            const std::size_t start = block * blockLength;
            const std::size_t length = std::min(blockLength, frameCount - start);
            engine.secondHalf({ signals.carrier.data() + start, length },
                { signals.modulator.data() + start, length }, handOver[block % 2],
                { got.data() + start, length }, unit);
        };
        for (std::size_t start = 0, block = 0; start < frameCount; start += blockLength, ++block) {
            const std::size_t length = std::min(blockLength, frameCount - start);
            const std::size_t place = block % (blocksPerSegment + 1);
            if (place == blocksPerSegment) {
                // The halves catch up, then one block on one thread with other settings.
                if (pending != 0)
                    secondHalf(pending - 1);
                pending = 0;
                apply(engine, settingsForBlock(block));
                processBlockWith(unit, engine, { signals.carrier.data() + start, length },
                    { signals.modulator.data() + start, length }, { got.data() + start, length });
                continue;
            }
            if (place == 0)
                apply(engine, settingsForBlock(block));
            handOver[block % 2].assign(length * VocoderEngine::handOverValues, 0.0);
            engine.firstHalf({ signals.carrier.data() + start, length },
                { signals.modulator.data() + start, length }, handOver[block % 2], unit);
            if (pending != 0)
                secondHalf(pending - 1);
            pending = block + 1;
        }
        if (pending != 0)
            secondHalf(pending - 1);
        EXPECT_EQ(differingSamples(want, got), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryUnit, EngineHalves,
    ::testing::Combine(
        ::testing::ValuesIn(halvesCases), ::testing::ValuesIn(vectorUnitsOfThisMachine())),
    [](const auto& param) {
        return std::string(std::get<0>(param.param).name) + "_"
            + vectorUnitName(std::get<1>(param.param));
    });

} // namespace lumivox::engine::testing
