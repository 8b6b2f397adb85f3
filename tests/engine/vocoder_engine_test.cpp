#include "filter_primitives.h"
#include "filter_tables.h"
#include "vocoder_engine.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace lumivox::engine {
namespace {

    constexpr std::size_t bands = 32;

    // A chord in 16-bit sample units, as the carrier arrives from a 16-bit file.
    double chordCarrier(int n)
    {
        double sum = 0.0;
        for (const double hertz : { 110.0, 138.6, 164.8, 220.0 }) {
            const double phase = std::fmod(hertz * n / 44100.0, 1.0);
            sum += 4000.0 * (2.0 * phase - 1.0);
        }
        return sum;
    }

    // A vowel-like modulator normalised to about +-1: a buzz with a moving formant and some hiss.
    double voiceModulator(int n)
    {
        const double t = n / 44100.0;
        const double buzz = std::sin(2.0 * 3.14159265358979 * 130.0 * t);
        const double formant
            = std::sin(2.0 * 3.14159265358979 * (700.0 + 400.0 * std::sin(9.0 * t)) * t);
        const double hiss = ((n * 1103515245u + 12345u) % 2001u) / 1000.0 - 1.0;
        return 0.5 * buzz * (0.6 + 0.4 * formant) + 0.05 * hiss;
    }

    // The bank rebuilt by hand from the tables, to compute what the engine should return.
    struct ReferenceBank {
        ReferenceBank()
        {
            for (std::size_t k = 0; k < bands; ++k) {
                const auto row = bandCoefficients().subspan(k * bandRowSize, bandRowSize);
                modulator.emplace_back(bandSectionCount);
                loadCoefficients(modulator.back(), row);
                carrier.emplace_back(bandSectionCount);
                loadCoefficients(carrier.back(), row);
                envelopes.emplace_back();
            }
        }

        // Levels (times 32.767) and carrier band signals of one sample frame.
        void step(double carrierSample, double modulatorSample)
        {
            for (std::size_t k = 0; k < bands; ++k) {
                levels[k] = envelopes[k].process(modulator[k].process(modulatorSample)) * 32.767;
                carrierBands[k] = carrier[k].process(carrierSample);
            }
        }

        double levelMean() const
        {
            double sum = 0.0;
            for (const double level : levels)
                sum += level;
            return sum / 32.0;
        }

        std::vector<FilterCascade> modulator;
        std::vector<FilterCascade> carrier;
        std::vector<EnvelopeFollower> envelopes;
        std::array<double, bands> levels {};
        std::array<double, bands> carrierBands {};
    };

    // Sum of |carrier band times level|: the scale of the rounding in a sum of 32 products.
    double productScale(const ReferenceBank& reference, const std::array<double, bands>& levels)
    {
        double scale = 0.0;
        for (std::size_t k = 0; k < bands; ++k)
            scale += std::abs(reference.carrierBands[k] * levels[k]);
        return scale;
    }

    bool allStatesZero(const FilterCascade& cascade)
    {
        for (const BiquadSection& s : cascade.sections) {
            if (s.z1 != 0.0 || s.z2 != 0.0)
                return false;
        }
        return true;
    }

} // namespace

TEST(VocoderEngine, ConstructsAFullBankAtRest)
{
    const VocoderEngine engine;
    const FilterBank& bank = engine.bank();
    ASSERT_EQ(bank.modulatorBands.size(), bands);
    ASSERT_EQ(bank.carrierBands.size(), bands);
    ASSERT_EQ(bank.envelopes.size(), bands);
    for (std::size_t k = 0; k < bands; ++k) {
        EXPECT_EQ(bank.modulatorBands[k].sectionCount, 5);
        EXPECT_EQ(bank.carrierBands[k].sectionCount, 5);
        EXPECT_EQ(bank.envelopes[k].lowPass->sectionCount, 2);
        EXPECT_TRUE(allStatesZero(bank.modulatorBands[k]));
        EXPECT_TRUE(allStatesZero(bank.carrierBands[k]));
        EXPECT_TRUE(allStatesZero(*bank.envelopes[k].lowPass));
    }
    EXPECT_EQ(engine.vagueness(), 0.0);
    EXPECT_EQ(engine.clearance(), 0.0);
    EXPECT_EQ(engine.outputGain(), 1.0);
    EXPECT_EQ(engine.spreadWeights()[0], 1.0);
    for (std::size_t k = 1; k < engine.spreadWeights().size(); ++k)
        EXPECT_EQ(engine.spreadWeights()[k], 0.0);
}

TEST(VocoderEngine, CarrierAndModulatorBandsAreEqualButSeparate)
{
    VocoderEngine engine;
    const FilterBank& bank = engine.bank();
    for (std::size_t k = 0; k < bands; ++k) {
        const FilterCascade& carrier = bank.carrierBands[k];
        const FilterCascade& modulator = bank.modulatorBands[k];
        EXPECT_NE(&carrier, &modulator);
        EXPECT_EQ(carrier.gain, modulator.gain);
        EXPECT_EQ(carrier.gain, bandCoefficients()[k * bandRowSize]);
        for (std::size_t s = 0; s < 5; ++s) {
            EXPECT_EQ(carrier.sections[s].b1, modulator.sections[s].b1);
            EXPECT_EQ(carrier.sections[s].b2, modulator.sections[s].b2);
            EXPECT_EQ(carrier.sections[s].a1, modulator.sections[s].a1);
            EXPECT_EQ(carrier.sections[s].a2, modulator.sections[s].a2);
        }
    }
    // Fed with the same signal scaled apart, each cascade's state follows its own input.
    for (int n = 0; n < 200; ++n)
        engine.processSample(voiceModulator(n), 2.0 * voiceModulator(n));
    for (std::size_t k = 0; k < bands; ++k) {
        const auto& carrier = bank.carrierBands[k].sections[4];
        const auto& modulator = bank.modulatorBands[k].sections[4];
        EXPECT_EQ(2.0 * carrier.z1, modulator.z1) << "band " << k;
        EXPECT_NE(carrier.z1, 0.0) << "band " << k;
    }
}

TEST(VocoderEngineWeights, FollowTheDocumentedTriangles)
{
    VocoderEngine engine;
    const auto expectWeights = [&](double v, std::vector<double> neighbours) {
        engine.setVagueness(v);
        neighbours.resize(14, 0.0);
        EXPECT_EQ(engine.spreadWeights()[0], 1.0) << "v = " << v;
        for (std::size_t k = 1; k <= 14; ++k)
            EXPECT_EQ(engine.spreadWeights()[k], neighbours[k - 1])
                << "v = " << v << ", w[" << k << "]";
    };
    expectWeights(0.0, {});
    expectWeights(0.3, { 0.30000000000000004 }); // 1 - 0.7, one neighbour
    expectWeights(0.5, { 0.5 });
    expectWeights(0.75, { 0.75, 0.5, 0.25 });
    // 1 - 0.8 falls just short of 0.2, so a fifth neighbour keeps a weight of 2^-52.
    expectWeights(
        0.8, { 0.8, 0.6000000000000001, 0.40000000000000013, 0.20000000000000018, 0x1p-52 });
    expectWeights(0.9,
        { 0.9, 0.8, 0.7000000000000001, 0.6000000000000001, 0.5000000000000001, 0.40000000000000013,
            0.30000000000000016, 0.20000000000000018, 0.1000000000000002, 0x1p-52 });
    expectWeights(1.0, std::vector<double>(14, 1.0));
}

TEST(VocoderEngineWeights, NeverIncreaseAndStayWithinZeroAndOne)
{
    VocoderEngine engine;
    for (int position = 0; position <= 1000; ++position) {
        engine.setVagueness(position / 1000.0);
        EXPECT_EQ(engine.spreadWeights()[0], 1.0);
        for (std::size_t k = 1; k < engine.spreadWeights().size(); ++k) {
            EXPECT_LE(engine.spreadWeights()[k], engine.spreadWeights()[k - 1]);
            EXPECT_GE(engine.spreadWeights()[k], 0.0);
        }
    }
}

// For v in [0, 1] the step d = 1 - v is either at least 0.5 (one neighbour at most, and 1 - d is
// exact) or a multiple of 2^-53 no larger than 0.5, so that every 1 - k * d is a representable
// double: repeated subtraction then lands exactly on 1 - k * d, for every v. A search over slider
// positions and a fine sweep finds no weight that differs, which is the property this pins down.
TEST(VocoderEngineWeights, RepeatedSubtractionIsExactlyOneMinusKTimesTheStep)
{
    VocoderEngine engine;
    int differing = 0;
    for (int position = 0; position <= 100'000; ++position) {
        const double v = position / 100'000.0;
        engine.setVagueness(v);
        const double step = 1.0 - v;
        for (std::size_t k = 1; k < engine.spreadWeights().size(); ++k) {
            const double direct = std::max(0.0, 1.0 - static_cast<double>(k) * step);
            if (engine.spreadWeights()[k] != direct)
                ++differing;
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST(VocoderEngineParameters, AreClampedToZeroAndOne)
{
    VocoderEngine engine;
    engine.setVagueness(-3.0);
    EXPECT_EQ(engine.vagueness(), 0.0);
    EXPECT_EQ(engine.spreadWeights()[1], 0.0);
    engine.setVagueness(7.0);
    EXPECT_EQ(engine.vagueness(), 1.0);
    EXPECT_EQ(engine.spreadWeights()[14], 1.0);
    engine.setClearance(-3.0);
    EXPECT_EQ(engine.clearance(), 0.0);
    engine.setClearance(7.0);
    EXPECT_EQ(engine.clearance(), 1.0);
    engine.setClearance(0.25);
    EXPECT_EQ(engine.clearance(), 0.25);
    engine.setOutputGain(5.0); // no clamp on the gain
    EXPECT_EQ(engine.outputGain(), 5.0);
}

TEST(VocoderEngineParameters, NotANumberCountsAsZero)
{
    VocoderEngine engine;
    engine.setVagueness(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(engine.vagueness(), 0.0);
    EXPECT_EQ(engine.spreadWeights()[0], 1.0);
    EXPECT_EQ(engine.spreadWeights()[1], 0.0);
    engine.setClearance(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(engine.clearance(), 0.0);
}

TEST(VocoderEngineOutput, FirstCallHasTheClosedForm)
{
    VocoderEngine engine;
    engine.setOutputGain(1.5);
    const double carrier = 12345.0;
    const double modulator = -0.4;
    double sumOfSquaredGains = 0.0;
    for (std::size_t k = 0; k < bands; ++k) {
        const double gain = bandCoefficients()[k * bandRowSize];
        sumOfSquaredGains += gain * gain;
    }
    const double expected
        = 1.5 * carrier * 0.4 * 32.767 * envelopeCoefficients()[0] * sumOfSquaredGains;
    EXPECT_NEAR(engine.processSample(carrier, modulator), expected, 1e-13 * expected);
}

TEST(VocoderEngineOutput, SilentModulatorGivesExactlyZero)
{
    VocoderEngine engine;
    engine.setVagueness(0.6);
    engine.setClearance(0.3);
    engine.setOutputGain(2.0);
    for (int n = 0; n < 3000; ++n)
        ASSERT_EQ(engine.processSample(chordCarrier(n), 0.0), 0.0) << "at " << n;
}

TEST(VocoderEngineOutput, SilentCarrierGivesExactlyZero)
{
    VocoderEngine engine;
    engine.setVagueness(1.0);
    engine.setClearance(0.5);
    engine.setOutputGain(2.0);
    for (int n = 0; n < 3000; ++n)
        ASSERT_EQ(engine.processSample(0.0, voiceModulator(n)), 0.0) << "at " << n;
}

TEST(VocoderEngineOutput, PlainSettingsWeightEachCarrierBandByItsLevel)
{
    VocoderEngine engine;
    engine.setOutputGain(0.8);
    ReferenceBank reference;
    for (int n = 0; n < 3000; ++n) {
        const double output = engine.processSample(chordCarrier(n), voiceModulator(n));
        reference.step(chordCarrier(n), voiceModulator(n));
        double expected = 0.0;
        for (std::size_t k = 0; k < bands; ++k)
            expected += reference.carrierBands[k] * reference.levels[k];
        ASSERT_EQ(output, expected * 0.8) << "at " << n;
    }
}

TEST(VocoderEngineOutput, FullClearanceGivesEveryBandTheMeanLevel)
{
    for (const double vagueness : { 0.0, 0.6, 1.0 }) {
        VocoderEngine engine;
        engine.setClearance(1.0);
        engine.setVagueness(vagueness);
        engine.setOutputGain(1.3);
        ReferenceBank reference;
        for (int n = 0; n < 3000; ++n) {
            const double output = engine.processSample(chordCarrier(n), voiceModulator(n));
            reference.step(chordCarrier(n), voiceModulator(n));
            const double mean = reference.levelMean();
            double carrierSum = 0.0;
            double scale = 0.0;
            for (const double band : reference.carrierBands) {
                carrierSum += band;
                scale += std::abs(band * mean);
            }
            ASSERT_NEAR(output, 1.3 * mean * carrierSum, 1e-12 * 1.3 * scale)
                << "at " << n << ", vagueness " << vagueness;
        }
    }
}

TEST(VocoderEngineOutput, FullVaguenessAveragesFourteenNeighboursEachSide)
{
    VocoderEngine engine;
    engine.setVagueness(1.0);
    ReferenceBank reference;
    for (int n = 0; n < 3000; ++n) {
        const double output = engine.processSample(chordCarrier(n), voiceModulator(n));
        reference.step(chordCarrier(n), voiceModulator(n));
        std::array<double, bands> smoothed {};
        for (std::size_t k = 0; k < bands; ++k) {
            const std::size_t first = k >= 14 ? k - 14 : 0;
            const std::size_t last = std::min<std::size_t>(k + 14, bands - 1);
            double sum = 0.0;
            for (std::size_t j = first; j <= last; ++j)
                sum += reference.levels[j];
            smoothed[k] = sum / static_cast<double>(last - first + 1);
        }
        // Band 0: the plain mean of bands 0 to 14, summed in the same order.
        ASSERT_EQ(engine.bandLevels()[0], smoothed[0]) << "at " << n;
        ASSERT_NEAR(engine.bandLevels()[16], smoothed[16], 1e-13 * smoothed[16]) << "at " << n;
        double expected = 0.0;
        for (std::size_t k = 0; k < bands; ++k)
            expected += reference.carrierBands[k] * smoothed[k];
        ASSERT_NEAR(output, expected, 1e-12 * productScale(reference, smoothed)) << "at " << n;
    }
}

TEST(VocoderEngineOutput, HalfVaguenessBlendsHalfOfEachNeighbour)
{
    VocoderEngine engine;
    engine.setVagueness(0.5);
    ReferenceBank reference;
    for (int n = 0; n < 1000; ++n) {
        engine.processSample(chordCarrier(n), voiceModulator(n));
        reference.step(chordCarrier(n), voiceModulator(n));
        const auto& l = reference.levels;
        ASSERT_EQ(engine.bandLevels()[0], (l[0] + 0.5 * l[1]) / 1.5) << "at " << n;
        // The upper neighbour is added before the lower one; the order decides the last bit.
        ASSERT_EQ(engine.bandLevels()[5], (l[5] + 0.5 * l[6] + 0.5 * l[4]) / 2.0) << "at " << n;
        ASSERT_EQ(engine.bandLevels()[31], (l[31] + 0.5 * l[30]) / 1.5) << "at " << n;
    }
}

TEST(VocoderEngineOutput, PartialClearancePullsLevelsTowardTheMean)
{
    VocoderEngine engine;
    engine.setClearance(0.25);
    ReferenceBank reference;
    for (int n = 0; n < 2000; ++n) {
        const double output = engine.processSample(chordCarrier(n), voiceModulator(n));
        reference.step(chordCarrier(n), voiceModulator(n));
        const double mean = reference.levelMean();
        std::array<double, bands> pulled {};
        for (std::size_t k = 0; k < bands; ++k)
            pulled[k] = 0.25 * mean + 0.75 * reference.levels[k];
        double expected = 0.0;
        for (std::size_t k = 0; k < bands; ++k)
            expected += reference.carrierBands[k] * pulled[k];
        ASSERT_NEAR(output, expected, 1e-12 * productScale(reference, pulled)) << "at " << n;
    }
}

TEST(VocoderEngineOutput, ZeroGainSilencesButKeepsTheFiltersRunning)
{
    VocoderEngine muted;
    VocoderEngine open;
    muted.setOutputGain(0.0);
    for (int n = 0; n < 1500; ++n) {
        ASSERT_EQ(muted.processSample(chordCarrier(n), voiceModulator(n)), 0.0);
        open.processSample(chordCarrier(n), voiceModulator(n));
    }
    muted.setOutputGain(1.0);
    for (int n = 1500; n < 2000; ++n) {
        ASSERT_EQ(muted.processSample(chordCarrier(n), voiceModulator(n)),
            open.processSample(chordCarrier(n), voiceModulator(n)))
            << "at " << n;
    }
}

TEST(VocoderEngineOutput, CarrierAndModulatorAreNotInterchangeable)
{
    VocoderEngine forward;
    VocoderEngine swapped;
    int differing = 0;
    for (int n = 0; n < 500; ++n) {
        const double a = chordCarrier(n) / 16000.0;
        const double b = voiceModulator(n);
        if (forward.processSample(a, b) != swapped.processSample(b, a))
            ++differing;
    }
    EXPECT_GT(differing, 400);
}

TEST(VocoderEngine, RebuildingTheBankStartsFromSilence)
{
    VocoderEngine used;
    used.setVagueness(0.7);
    used.setClearance(0.2);
    for (int n = 0; n < 800; ++n)
        used.processSample(chordCarrier(n), voiceModulator(n));
    used.buildFilterBank();
    EXPECT_EQ(used.vagueness(), 0.7);
    EXPECT_EQ(used.clearance(), 0.2);

    VocoderEngine fresh;
    fresh.setVagueness(0.7);
    fresh.setClearance(0.2);
    for (int n = 800; n < 1600; ++n) {
        ASSERT_EQ(used.processSample(chordCarrier(n), voiceModulator(n)),
            fresh.processSample(chordCarrier(n), voiceModulator(n)))
            << "at " << n;
    }
}

} // namespace lumivox::engine
