#include "block_path.h"
#include "engine_signals.h"
#include "vocoder_engine.h"

#include <cmath>
#include <cstddef>
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

struct ClarityCase {
    double clarity;
    Settings settings;
};

// Clarity from a hair above 0 to full, with the other sliders at their defaults and elsewhere.
const ClarityCase clarityCases[] = {
    { 0.01, { 0.0, 0.0, 1.0 } },
    { 0.25, { 0.0, 0.0, 1.0 } },
    { 0.5, { 0.73, 0.41, 1.34 } },
    { 1.0, { 0.0, 0.0, 2.0 } },
    { 1.0, { 1.0, 1.0, 0.62 } },
};

// The Clarity position for a block when a preview moves the slider, through 0 now and then.
double clarityForBlock(std::size_t block)
{
    return block % 7 == 3 ? 0.0 : (block * 41 % 101) / 100.0;
}

std::vector<double> perSample(const Signals& signals, const ClarityCase& c)
{
    VocoderEngine engine;
    apply(engine, c.settings);
    engine.setClarity(c.clarity);
    std::vector<double> output(signals.carrier.size());
    for (std::size_t t = 0; t < output.size(); ++t)
        output[t] = engine.processSample(signals.carrier[t], signals.modulator[t]);
    return output;
}

std::vector<double> inBlocks(VectorUnit unit, const Signals& signals, const ClarityCase& c)
{
    VocoderEngine engine;
    apply(engine, c.settings);
    engine.setClarity(c.clarity);
    std::vector<double> output(signals.carrier.size());
    std::size_t length = 1;
    for (std::size_t start = 0; start < output.size(); start += length) {
        length = std::min((length * 7 + 3) % 4099 + 1, output.size() - start);
        processBlockWith(unit, engine, { signals.carrier.data() + start, length },
            { signals.modulator.data() + start, length }, { output.data() + start, length });
    }
    return output;
}

double rms(const std::vector<double>& signal, std::size_t from, std::size_t to)
{
    double sum = 0.0;
    for (std::size_t t = from; t < to; ++t)
        sum += signal[t] * signal[t];
    return std::sqrt(sum / static_cast<double>(to - from));
}

// The largest normalised cross-correlation of output with source over [from, to), the output
// lagging by up to a millisecond.
double likeness(const std::vector<double>& output, const std::vector<double>& source,
    std::size_t from, std::size_t to)
{
    double best = 0.0;
    for (std::size_t lag = 0; lag <= sampleRate / 1000; ++lag) {
        double product = 0.0, outputSquares = 0.0, sourceSquares = 0.0;
        for (std::size_t t = from; t < to; ++t) {
            product += output[t + lag] * source[t];
            outputSquares += output[t + lag] * output[t + lag];
            sourceSquares += source[t] * source[t];
        }
        best = std::max(best, std::abs(product) / std::sqrt(outputSquares * sourceSquares));
    }
    return best;
}

std::vector<double> vocoded(const Signals& signals, double clarity)
{
    VocoderEngine engine;
    engine.setClarity(clarity);
    std::vector<double> output(signals.carrier.size());
    engine.processBlock(signals.carrier, signals.modulator, output);
    return output;
}

// A low sawtooth chord, as loud as a synth pad, with little of its energy above 2 kHz.
std::vector<double> chordCarrier(std::size_t frameCount)
{
    std::vector<double> carrier(frameCount);
    for (std::size_t t = 0; t < frameCount; ++t) {
        const double time = static_cast<double>(t) / sampleRate;
        double saw = 0.0;
        for (const double hertz : { 110.0, 138.6, 164.8 }) {
            const double phase = hertz * time;
            saw += 2.0 * (phase - std::floor(phase)) - 1.0;
        }
        carrier[t] = 6000.0 * saw;
    }
    return carrier;
}

} // namespace

TEST(Clarity, BlockPathMatchesProcessSampleBitForBitOnEveryUnit)
{
    const Signals signals = musicalSignals(3 * sampleRate);
    for (const ClarityCase& c : clarityCases) {
        const auto want = perSample(signals, c);
        for (VectorUnit unit : vectorUnitsOfThisMachine()) {
            SCOPED_TRACE(
                std::string(vectorUnitName(unit)) + " clarity=" + std::to_string(c.clarity));
            EXPECT_EQ(differingSamples(want, inBlocks(unit, signals, c)), 0u);
        }
    }
}

TEST(Clarity, BlockPathFollowsClarityMovedBetweenBlocks)
{
    const Signals signals = musicalSignals(20 * sampleRate);
    const std::size_t blockLength = 2048;
    VocoderEngine reference;
    std::vector<double> want(signals.carrier.size());
    for (std::size_t start = 0, block = 0; start < want.size(); start += blockLength, ++block) {
        reference.setClarity(clarityForBlock(block));
        for (std::size_t t = start; t < std::min(start + blockLength, want.size()); ++t)
            want[t] = reference.processSample(signals.carrier[t], signals.modulator[t]);
    }
    for (VectorUnit unit : vectorUnitsOfThisMachine()) {
        SCOPED_TRACE(vectorUnitName(unit));
        VocoderEngine engine;
        std::vector<double> got(signals.carrier.size());
        for (std::size_t start = 0, block = 0; start < got.size(); start += blockLength, ++block) {
            engine.setClarity(clarityForBlock(block));
            const std::size_t length = std::min(blockLength, got.size() - start);
            processBlockWith(unit, engine, { signals.carrier.data() + start, length },
                { signals.modulator.data() + start, length }, { got.data() + start, length });
        }
        EXPECT_EQ(differingSamples(want, got), 0u);
    }
}

TEST(Clarity, BackAtZeroEveryOutputBitIsAsWithoutIt)
{
    const Signals signals = musicalSignals(2 * sampleRate);
    const std::size_t half = signals.carrier.size() / 2;
    VocoderEngine plain;
    VocoderEngine clear;
    clear.setClarity(0.8);
    std::vector<double> want(signals.carrier.size());
    std::vector<double> got(signals.carrier.size());
    for (std::size_t t = 0; t < want.size(); ++t) {
        if (t == half)
            clear.setClarity(0.0);
        want[t] = plain.processSample(signals.carrier[t], signals.modulator[t]);
        got[t] = clear.processSample(signals.carrier[t], signals.modulator[t]);
    }
    EXPECT_NE(std::vector<double>(want.begin(), want.begin() + half),
        std::vector<double>(got.begin(), got.begin() + half));
    EXPECT_EQ(
        differingSamples({ want.begin() + half, want.end() }, { got.begin() + half, got.end() }),
        0u);
    EXPECT_EQ(clear.clarity(), 0.0);
}

TEST(Clarity, SettingIsClampedToTheUnitRange)
{
    VocoderEngine engine;
    for (const auto& [given, kept] :
        { std::pair { -3.0, 0.0 }, { 0.37, 0.37 }, { 7.0, 1.0 }, { std::nan(""), 0.0 } }) {
        engine.setClarity(given);
        EXPECT_EQ(engine.clarity(), kept) << given;
    }
}

TEST(Clarity, AnUnvoicedBurstGetsThroughAtFullClarityOnly)
{
    // A quarter second of vowel-free hiss: white noise differenced twice, so nothing of it lies
    // low enough for a chord's strong harmonics to carry it.
    const std::size_t frameCount = sampleRate;
    const std::size_t burstStart = sampleRate / 2;
    const std::size_t burstEnd = burstStart + sampleRate / 4;
    Signals signals { chordCarrier(frameCount), std::vector<double>(frameCount) };
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    double last = 0.0, beforeLast = 0.0;
    for (std::size_t t = burstStart; t < burstEnd; ++t) {
        const double white = unit(rng);
        signals.modulator[t] = 0.1 * (white - 2.0 * last + beforeLast);
        beforeLast = last;
        last = white;
    }
    // Getting through means the burst's own waveform is in the output, not the chord's.
    const double atZero = likeness(vocoded(signals, 0.0), signals.modulator, burstStart, burstEnd);
    const double atFull = likeness(vocoded(signals, 1.0), signals.modulator, burstStart, burstEnd);
    EXPECT_LT(atZero, 0.1);
    EXPECT_GT(atFull, 0.5);
}

TEST(Clarity, ASteadyVowelKeepsItsLevelWithinOneDecibel)
{
    // An "ah" at 120 Hz: harmonics weighted by its three formant resonances, each weaker than
    // the one below as in a spoken vowel.
    const std::size_t frameCount = 2 * sampleRate;
    Signals signals { chordCarrier(frameCount), std::vector<double>(frameCount) };
    const double formants[][3]
        = { { 730.0, 90.0, 1.0 }, { 1090.0, 110.0, 0.5 }, { 2440.0, 170.0, 0.1 } };
    for (std::size_t t = 0; t < frameCount; ++t) {
        const double time = static_cast<double>(t) / sampleRate;
        double sample = 0.0;
        for (int k = 1; 120.0 * k < 4000.0; ++k) {
            const double hertz = 120.0 * k;
            double weight = 0.0;
            for (const auto& [centre, width, height] : formants)
                weight += height / (1.0 + std::pow((hertz - centre) / width, 2.0));
            sample += weight * std::sin(2.0 * std::numbers::pi * hertz * time + k);
        }
        signals.modulator[t] = 0.1 * sample;
    }
    const double atZero = rms(vocoded(signals, 0.0), sampleRate, frameCount);
    for (const double clarity : { 0.5, 1.0 }) {
        const double decibels
            = 20.0 * std::log10(rms(vocoded(signals, clarity), sampleRate, frameCount) / atZero);
        EXPECT_LT(std::abs(decibels), 1.0) << "Clarity " << clarity << ": " << decibels << " dB";
    }
}
