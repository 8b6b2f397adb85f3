#include "block_path.h"
#include "engine_signals.h"
#include "vocoder_engine.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <string>
#include <vector>

using lumivox::engine::processBlockWith;
using lumivox::engine::VectorUnit;
using lumivox::engine::vectorUnitName;
using lumivox::engine::vectorUnitsOfThisMachine;
using lumivox::engine::VocoderEngine;
using namespace lumivox::engine::testing;

namespace {

// Slider corners and a few positions in between (sliders move in steps of 0.01 and gain 0.02).
const Settings sliderSettings[] = {
    { 0.0, 0.0, 1.0 },
    { 1.0, 0.0, 1.0 },
    { 0.0, 1.0, 1.0 },
    { 1.0, 1.0, 2.0 },
    { 0.5, 0.0, 0.0 },
    { 0.73, 0.41, 1.34 },
    { 0.07, 0.93, 0.62 },
    { 0.99, 0.01, 1.98 },
    { 0.0, 0.0, 1.0, 0.0, 3 }, // the harmonic bands blurred, the others not
    { 0.2, 0.6, 1.0, 0.0, 1 },
};

std::vector<double> perSample(const Signals& signals, const Settings& settings)
{
    VocoderEngine engine;
    apply(engine, settings);
    std::vector<double> output(signals.carrier.size());
    for (std::size_t t = 0; t < output.size(); ++t)
        output[t] = engine.processSample(signals.carrier[t], signals.modulator[t]);
    return output;
}

// Block lengths that wander through odd sizes, single frames and sizes above a chunk.
std::size_t nextBlockLength(std::size_t length) { return (length * 7 + 3) % 4099 + 1; }

std::vector<double> inBlocks(VectorUnit unit, const Signals& signals, const Settings& settings)
{
    VocoderEngine engine;
    apply(engine, settings);
    std::vector<double> output(signals.carrier.size());
    std::size_t length = 1;
    for (std::size_t start = 0; start < output.size(); start += length) {
        length = std::min(nextBlockLength(length), output.size() - start);
        processBlockWith(unit, engine, { signals.carrier.data() + start, length },
            { signals.modulator.data() + start, length }, { output.data() + start, length });
    }
    return output;
}

} // namespace

TEST(BlockPath, TheMachineOffersThePortableUnitAndItsWidest)
{
    const auto units = vectorUnitsOfThisMachine();
    ASSERT_FALSE(units.empty());
    EXPECT_EQ(units.front(), VectorUnit::Portable);
    EXPECT_EQ(units.back(), lumivox::engine::widestVectorUnit());
}

// What a program's LUMIVOX_VECTOR_UNIT and LUMIVOX_BLOCK_PATH give: the unit asked for where the
// machine runs it (the widest for none or an unknown name), and frame by frame only for "off".
TEST(BlockPath, AProgramsSettingsChooseTheUnitAndThePath)
{
    using lumivox::engine::vectorChoiceFrom;
    const auto units = vectorUnitsOfThisMachine();
    const VectorUnit widest = units.back();
    EXPECT_EQ(vectorChoiceFrom(nullptr, nullptr).unit, widest);
    EXPECT_TRUE(vectorChoiceFrom(nullptr, nullptr).blockPath);
    EXPECT_EQ(vectorChoiceFrom("no such unit", nullptr).unit, widest);
    EXPECT_FALSE(vectorChoiceFrom(nullptr, "off").blockPath);
    EXPECT_TRUE(vectorChoiceFrom(nullptr, "on").blockPath);
    for (VectorUnit unit : units)
        EXPECT_EQ(vectorChoiceFrom(vectorUnitName(unit), nullptr).unit, unit);
    EXPECT_EQ(lumivox::engine::VectorChoice {}.unit, widest);
}

// An engine runs its blocks as chosen: frame by frame they are processSample's frames.
TEST(BlockPath, AnEngineRunsItsBlocksAsChosen)
{
    const Signals signals = musicalSignals(sampleRate / 2);
    for (const Settings& settings : { sliderSettings[0], sliderSettings[5] }) {
        const auto want = perSample(signals, settings);
        for (bool blockPath : { true, false }) {
            for (VectorUnit unit : vectorUnitsOfThisMachine()) {
                VocoderEngine engine;
                engine.setVectorChoice({ unit, blockPath });
                EXPECT_EQ(engine.vectorChoice().unit, unit);
                apply(engine, settings);
                std::vector<double> output(signals.carrier.size());
                engine.processBlock(signals.carrier, signals.modulator, output);
                EXPECT_EQ(differingSamples(want, output), 0u) << vectorUnitName(unit);
            }
        }
    }
}

TEST(BlockPath, MatchesProcessSampleBitForBitOnMusicAtEverySetting)
{
    const Signals signals = musicalSignals(4 * sampleRate);
    for (const Settings& settings : sliderSettings) {
        const auto want = perSample(signals, settings);
        for (VectorUnit unit : vectorUnitsOfThisMachine()) {
            SCOPED_TRACE(std::string(vectorUnitName(unit)) + " v="
                + std::to_string(settings.vagueness) + " c=" + std::to_string(settings.clearance));
            EXPECT_EQ(differingSamples(want, inBlocks(unit, signals, settings)), 0u);
        }
    }
}

TEST(BlockPath, MatchesProcessSampleBitForBitOnFullScaleNoise)
{
    const Signals signals = randomSignals(2 * sampleRate, 11);
    for (const Settings& settings : { sliderSettings[0], sliderSettings[3], sliderSettings[5] }) {
        const auto want = perSample(signals, settings);
        for (VectorUnit unit : vectorUnitsOfThisMachine()) {
            SCOPED_TRACE(vectorUnitName(unit));
            EXPECT_EQ(differingSamples(want, inBlocks(unit, signals, settings)), 0u);
        }
    }
}

TEST(BlockPath, FollowsParametersChangedBetweenBlocksOverMinutesOfAudio)
{
    // A minute and a half, with the sliders moved before every block as a preview does.
    const Signals signals = musicalSignals(90 * sampleRate);
    const std::size_t blockLength = 2048;

    VocoderEngine reference;
    std::vector<double> want(signals.carrier.size());
    for (std::size_t start = 0, block = 0; start < want.size(); start += blockLength, ++block) {
        apply(reference, settingsForBlock(block));
        for (std::size_t t = start; t < std::min(start + blockLength, want.size()); ++t)
            want[t] = reference.processSample(signals.carrier[t], signals.modulator[t]);
    }

    VocoderEngine engine;
    std::vector<double> got(signals.carrier.size());
    for (std::size_t start = 0, block = 0; start < got.size(); start += blockLength, ++block) {
        apply(engine, settingsForBlock(block));
        const std::size_t length = std::min(blockLength, got.size() - start);
        engine.processBlock({ signals.carrier.data() + start, length },
            { signals.modulator.data() + start, length }, { got.data() + start, length });
    }
    EXPECT_EQ(differingSamples(want, got), 0u);
}

TEST(BlockPath, InterleavesWithProcessSampleOnTheSameFilterState)
{
    const Signals signals = musicalSignals(sampleRate);
    const Settings settings { 0.6, 0.2, 1.0 };
    const auto want = perSample(signals, settings);

    VocoderEngine engine;
    apply(engine, settings);
    std::vector<double> got(want.size());
    for (std::size_t start = 0; start < got.size(); start += 1000) {
        const std::size_t length = std::min<std::size_t>(1000, got.size() - start);
        if ((start / 1000) % 2 == 0) {
            engine.processBlock({ signals.carrier.data() + start, length },
                { signals.modulator.data() + start, length }, { got.data() + start, length });
        } else {
            for (std::size_t t = start; t < start + length; ++t)
                got[t] = engine.processSample(signals.carrier[t], signals.modulator[t]);
        }
    }
    EXPECT_EQ(differingSamples(want, got), 0u);
}

TEST(BlockPath, ProcessesOnlyAsManyFramesAsTheShortestSpanHolds)
{
    VocoderEngine engine;
    const std::vector<double> carrier(10, 1000.0);
    const std::vector<double> modulator(7, 0.5);
    std::vector<double> output(12, 123.0);
    engine.processBlock(carrier, modulator, output);
    EXPECT_NE(output[6], 123.0);
    EXPECT_EQ(output[7], 123.0);

    VocoderEngine reference;
    for (std::size_t t = 0; t < 7; ++t)
        EXPECT_EQ(output[t], reference.processSample(1000.0, 0.5));
}

static void expectBandLevelsOfProcessSample(const Signals& signals)
{
    for (const Settings& settings : sliderSettings) {
        VocoderEngine reference;
        apply(reference, settings);
        for (std::size_t t = 0; t < signals.carrier.size(); ++t)
            reference.processSample(signals.carrier[t], signals.modulator[t]);
        for (VectorUnit unit : vectorUnitsOfThisMachine()) {
            SCOPED_TRACE(std::string(vectorUnitName(unit)) + " v="
                + std::to_string(settings.vagueness) + " c=" + std::to_string(settings.clearance));
            VocoderEngine engine;
            apply(engine, settings);
            std::vector<double> output(signals.carrier.size());
            processBlockWith(unit, engine, signals.carrier, signals.modulator, output);
            for (std::size_t k = 0; k < reference.bandLevels().size(); ++k)
                EXPECT_EQ(std::bit_cast<std::uint64_t>(engine.bandLevels()[k]),
                    std::bit_cast<std::uint64_t>(reference.bandLevels()[k]))
                    << "band " << k;
        }
    }
}

TEST(BlockPath, LeavesTheBandLevelsProcessSampleLeavesOnEveryUnit)
{
    // One length ends on a whole vector of frames, the other one frame past it.
    for (const std::size_t frames : { std::size_t { 11024 }, std::size_t { 11025 } })
        expectBandLevelsOfProcessSample(musicalSignals(frames));
}

TEST(VectorUnitChoice, TakesTheNamedUnitOrTheWidestNoWiderOne)
{
    using enum VectorUnit;
    const std::vector<VectorUnit> avx2Machine { Portable, Sse2, Avx2 };
    struct Case {
        const char* requested;
        std::vector<VectorUnit> available;
        VectorUnit chosen;
    };
    const Case cases[] = {
        { nullptr, avx2Machine, Avx2 },
        { "", avx2Machine, Avx2 },
        { "AVX2 please", avx2Machine, Avx2 },
        { "portable", avx2Machine, Portable },
        { "sse2", avx2Machine, Sse2 },
        { "avx2", avx2Machine, Avx2 },
        { "avx512", avx2Machine, Avx2 },
        { "avx2", { Portable }, Portable },
        { "avx512", { Portable, Sse2, Avx2, Avx512 }, Avx512 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(lumivox::engine::chooseVectorUnit(c.requested, c.available), c.chosen)
            << (c.requested ? c.requested : "(unset)");
}
