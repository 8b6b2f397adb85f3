#include "block_path.h"
#include "vocoder_engine.h"

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

namespace {

constexpr std::size_t sampleRate = 44100;

struct Signals {
    std::vector<double> carrier; // in 16-bit sample units
    std::vector<double> modulator; // normalised to about +-1
};

// A detuned sawtooth chord for the carrier and a voiced, formant-swept buzz with noisy bursts and
// pauses for the modulator: material with the level changes a vocoder is used for.
Signals musicalSignals(std::size_t frameCount)
{
    Signals s { std::vector<double>(frameCount), std::vector<double>(frameCount) };
    std::mt19937 noise(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double chord[] = { 110.0, 138.6, 164.8, 220.7 };
    for (std::size_t t = 0; t < frameCount; ++t) {
        const double time = static_cast<double>(t) / sampleRate;
        double saw = 0.0;
        for (double f : chord) {
            const double phase = f * time - std::floor(f * time);
            saw += 2.0 * phase - 1.0;
        }
        s.carrier[t] = std::trunc(7000.0 * saw);

        const double syllable = std::sin(std::numbers::pi * 3.0 * time);
        const double envelope = syllable > 0.2 ? syllable : 0.0; // pauses between syllables
        const double pitch = 120.0 + 30.0 * std::sin(2.0 * std::numbers::pi * 0.7 * time);
        const double formant
            = 500.0 + 1500.0 * (0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * time));
        const double voiced = std::sin(2.0 * std::numbers::pi * pitch * time)
            * (0.6 + 0.4 * std::sin(2.0 * std::numbers::pi * formant * time));
        const double hiss = (t / 20000) % 5 == 3 ? 0.5 * unit(noise) : 0.0;
        s.modulator[t] = std::round((envelope * voiced + hiss) * 20000.0) / 32767.0;
    }
    return s;
}

Signals randomSignals(std::size_t frameCount, unsigned seed)
{
    Signals s { std::vector<double>(frameCount), std::vector<double>(frameCount) };
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (std::size_t t = 0; t < frameCount; ++t) {
        s.carrier[t] = sample(rng);
        s.modulator[t] = sample(rng) / 32767.0;
    }
    return s;
}

struct Settings {
    double vagueness;
    double clearance;
    double gain;
};

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
};

void apply(VocoderEngine& engine, const Settings& settings)
{
    engine.setVagueness(settings.vagueness);
    engine.setClearance(settings.clearance);
    engine.setOutputGain(settings.gain);
}

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

// Counts outputs whose bits differ, so -0.0 against 0.0 counts too; reports the first.
std::size_t differingSamples(const std::vector<double>& want, const std::vector<double>& got)
{
    std::size_t differing = 0;
    for (std::size_t t = 0; t < want.size(); ++t) {
        if (std::memcmp(&want[t], &got[t], sizeof(double)) != 0) {
            if (differing == 0)
                ADD_FAILURE() << "first difference at frame " << t << ": " << want[t] << " vs "
                              << got[t];
            ++differing;
        }
    }
    return differing;
}

} // namespace

TEST(BlockPath, TheMachineOffersThePortableUnitAndItsWidest)
{
    const auto units = vectorUnitsOfThisMachine();
    ASSERT_FALSE(units.empty());
    EXPECT_EQ(units.front(), VectorUnit::Portable);
    EXPECT_EQ(units.back(), lumivox::engine::preferredVectorUnit());
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
    auto settingsForBlock = [](std::size_t block) {
        return Settings { static_cast<double>(block * 37 % 101) / 100.0,
            static_cast<double>(block * 53 % 103) / 100.0,
            static_cast<double>(block * 29 % 101) / 50.0 };
    };

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
