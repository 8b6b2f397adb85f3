// Clarity for each band layout: its filters land where they are meant to in Hz at the layout's
// own rate, its fast bands stand in for the layout's slow bands only, and the classic layout keeps
// the stage it has always had.
#include "block_path.h"
#include "clarity.h"
#include "engine_signals.h"
#include "layout_choice.h"
#include "vocoder_engine.h"
#include "white_noise.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>
#include <string>
#include <vector>

using namespace lumivox::engine;
using lumivox::engine::testing::differingSamples;

namespace {

BandLayout designed(const LayoutChoice& choice, double rate)
{
    return lumivox::engine::testing::designedLayout(choice, rate);
}

const LayoutChoice speech { LayoutKind::Speech, classicBandCount, std::nullopt };
LayoutChoice custom(int count, std::optional<BandRange> range = std::nullopt)
{
    return { LayoutKind::Custom, count, range };
}

using LayoutCase = lumivox::engine::testing::LayoutAtRate;

// Layouts designed at their recording's rate: the speech layout and custom ones, at three rates.
const LayoutCase designedLayouts[] = {
    { "speech_44100", speech, 44100.0 },
    { "speech_48000", speech, 48000.0 },
    { "speech_96000", speech, 96000.0 },
    { "custom32_48000", custom(32), 48000.0 },
    { "custom32_96000", custom(32), 96000.0 },
    { "custom48_100to8000_96000", custom(48, BandRange { 100.0, 8000.0 }), 96000.0 },
    { "custom24_50to10000_48000", custom(24, BandRange { 50.0, 10000.0 }), 48000.0 },
};

// 1 + c1 z^-1 + c2 z^-2 on the unit circle at the angle omega.
std::complex<double> polynomial(double c1, double c2, double omega)
{
    const std::complex<double> w = std::polar(1.0, -omega);
    return 1.0 + c1 * w + c2 * w * w;
}

// One lane of a section cascade, 1 + b1 z^-1 + b2 z^-2 over 1 + a1 z^-1 + a2 z^-2, at hertz.
std::complex<double> section(double b1, double b2, double a1, double a2, double hertz, double rate)
{
    const double omega = 2.0 * std::numbers::pi * hertz / rate;
    return polynomial(b1, b2, omega) / polynomial(a1, a2, omega);
}

// The gain of side filter lane at hertz.
double sideGainAt(const ClarityStage::Coefficients& c, int lane, double hertz, double rate)
{
    return std::abs(c.sideGain[lane]
        * section(c.sideB1[lane], c.sideB2[lane], c.sideA1[lane], c.sideA2[lane], hertz, rate));
}

// The gain of fast band `band` at hertz: its two sections, numerators 1 - z^-2.
double fastGainAt(const ClarityStage::Coefficients& c, int band, double hertz, double rate)
{
    std::complex<double> h = c.fastGain[band];
    for (int k = 0; k < 2; ++k)
        h *= section(0.0, -1.0, c.fastA1[k][band], c.fastA2[k][band], hertz, rate);
    return std::abs(h);
}

const double halfPower = std::sqrt(0.5);

class ClarityFollowsTheLayout : public ::testing::TestWithParam<LayoutCase> { };

TEST_P(ClarityFollowsTheLayout, SplitsHissFromVoiceAtTheSameFrequenciesAtEveryRate)
{
    const LayoutCase& c = GetParam();
    const ClarityStage stage(designed(c.choice, c.rate));
    const auto& coefficients = stage.coefficients();
    // The hiss band's high-pass is half power at 2 kHz, the voiced band's low-pass at 800 Hz.
    EXPECT_NEAR(sideGainAt(coefficients, 0, 2000.0, c.rate), halfPower, 1e-9);
    EXPECT_NEAR(sideGainAt(coefficients, 0, 0.45 * c.rate, c.rate), 1.0, 0.01);
    EXPECT_LT(sideGainAt(coefficients, 0, 500.0, c.rate), 0.07);
    EXPECT_NEAR(sideGainAt(coefficients, 1, 800.0, c.rate), halfPower, 1e-9);
    EXPECT_NEAR(sideGainAt(coefficients, 1, 10.0, c.rate), 1.0, 1e-6);
}

TEST_P(ClarityFollowsTheLayout, FastBandsStandInForTheSlowBandsAndNoOthers)
{
    const LayoutCase& c = GetParam();
    const BandLayout layout = designed(c.choice, c.rate);
    const ClarityStage stage(layout);
    const ClarityDesign& design = stage.design();
    const auto& coefficients = stage.coefficients();
    // Every band above 100 Hz narrower than 100 Hz lies inside the fast bands' span, every wider
    // one outside it.
    int slowBands = 0;
    for (int band = 0; band < layout.bandCount(); ++band) {
        const BandEdges e = layout.edges()[static_cast<std::size_t>(band)];
        const double centre = layout.centreHz(band, c.rate);
        if (centre < 100.0)
            continue;
        const bool inside = centre > design.fastLowHz && centre < design.fastHighHz;
        const bool slow = e.highHz - e.lowHz < claritySlowBandHz;
        slowBands += slow;
        EXPECT_EQ(inside, slow && design.hasFastBands()) << "band " << band << " at " << centre;
    }
    if (!design.hasFastBands()) {
        // Nothing of the bank is taken away, and the fast bands stay silent.
        EXPECT_LT(slowBands, 4) << "slow bands left to the bank";
        for (int band = 0; band < 4; ++band)
            EXPECT_EQ(fastGainAt(coefficients, band, 300.0, c.rate), 0.0);
        EXPECT_EQ(sideGainAt(coefficients, 2, 100.0, c.rate), 0.0);
        return;
    }
    // Each fast band passes its span, half power at its edges, in Hz at the recording's rate.
    const auto bands = design.fastBands();
    EXPECT_EQ(bands.front().lowHz, design.fastLowHz);
    EXPECT_EQ(bands.back().highHz, design.fastHighHz);
    for (int band = 0; band < 4; ++band) {
        const BandEdges e = bands[static_cast<std::size_t>(band)];
        EXPECT_NEAR(fastGainAt(coefficients, band, e.lowHz, c.rate), halfPower, 1e-6);
        EXPECT_NEAR(fastGainAt(coefficients, band, e.highHz, c.rate), halfPower, 1e-6);
        EXPECT_NEAR(
            fastGainAt(coefficients, band, std::sqrt(e.lowHz * e.highHz), c.rate), 1.0, 1e-3);
    }
    // What is taken of the bank's region is half power at 0.6 of the span's top.
    EXPECT_NEAR(sideGainAt(coefficients, 2, 0.6 * design.fastHighHz, c.rate), halfPower, 1e-9);
}

namespace {

    // A steady 1 kHz tone vocoding white noise for two seconds: the output's level over the second
    // second in 25 ms windows, about as long as the shortest sounds of speech (their mean and how
    // far they swing about it).
    struct WindowLevels {
        double mean = 0.0;
        double relativeSwing = 0.0; // standard deviation over mean
    };

    WindowLevels steadyToneOnNoise(const BandLayout& layout, double rate, double clarity)
    {
        VocoderEngine engine(layout);
        engine.setClarity(clarity);
        const auto frames = static_cast<std::size_t>(2.0 * rate);
        std::vector<double> carrier(frames), modulator(frames), output(frames);
        WhiteNoise noise(7);
        for (std::size_t t = 0; t < frames; ++t) {
            carrier[t] = 20000.0 * noise.next();
            modulator[t]
                = 0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(t) / rate);
        }
        engine.processBlock(carrier, modulator, output);
        const auto window = static_cast<std::size_t>(0.025 * rate);
        std::vector<double> levels;
        for (std::size_t start = frames / 2; start + window <= frames; start += window) {
            double energy = 0.0;
            for (std::size_t t = start; t < start + window; ++t)
                energy += output[t] * output[t];
            levels.push_back(std::sqrt(energy / static_cast<double>(window)));
        }
        WindowLevels result;
        for (double level : levels)
            result.mean += level / static_cast<double>(levels.size());
        double variance = 0.0;
        for (double level : levels)
            variance += (level - result.mean) * (level - result.mean)
                / static_cast<double>(levels.size());
        result.relativeSwing = std::sqrt(variance) / result.mean;
        return result;
    }

} // namespace

// A noise carrier's bands rise and fall at random on their own, which the vocoded sound carries on
// top of the voice's level; Clarity levels them, so that a steady voice gives a steadier sound at
// about the same loudness.
TEST_P(ClarityFollowsTheLayout, LevelsANoiseCarriersBandsAndKeepsTheirLoudness)
{
    const LayoutCase& c = GetParam();
    const BandLayout layout = designed(c.choice, c.rate);
    const WindowLevels plain = steadyToneOnNoise(layout, c.rate, 0.0);
    const WindowLevels clear = steadyToneOnNoise(layout, c.rate, 1.0);
    EXPECT_GT(plain.relativeSwing, 0.1);
    EXPECT_LT(clear.relativeSwing, 0.6 * plain.relativeSwing);
    EXPECT_GT(clear.mean, 0.5 * plain.mean);
    EXPECT_LT(clear.mean, 2.0 * plain.mean);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ClarityFollowsTheLayout, ::testing::ValuesIn(designedLayouts),
    [](const auto& param) { return param.param.name; });

TEST(ClarityOfTheClassicLayout, IsTheStageItHasAlwaysBeenAndTheDesignGivesItsNumbers)
{
    const ClarityStage stage(BandLayout::classic());
    const ClarityDesign& design = stage.design();
    EXPECT_EQ(design.rate, 44100.0);
    EXPECT_EQ(design.fastLowHz, 100.0);
    EXPECT_EQ(design.fastHighHz, 500.0);
    EXPECT_EQ(design.regionHz, 300.0);
    const double edges[] = { 100.0, 150.0, 225.0, 340.0, 500.0 };
    for (int band = 0; band < 4; ++band) {
        EXPECT_NEAR(design.fastBands()[static_cast<std::size_t>(band)].lowHz, edges[band], 1e-9);
        EXPECT_NEAR(
            design.fastBands()[static_cast<std::size_t>(band)].highHz, edges[band + 1], 1e-9);
    }
    // The constants the classic stage runs on are what the design works out, to rounding.
    const ClarityStage::Coefficients want = ClarityStage().coefficients();
    const ClarityStage::Coefficients got = ClarityStage::designCoefficients(design);
    const auto near = [](double a, double b) { return std::abs(a - b) <= 1e-12 * std::abs(a); };
    for (int lane = 0; lane < 4; ++lane) {
        SCOPED_TRACE("lane " + std::to_string(lane));
        EXPECT_PRED2(near, want.fastGain[lane], got.fastGain[lane]);
        for (int k = 0; k < 2; ++k) {
            EXPECT_PRED2(near, want.fastA1[k][lane], got.fastA1[k][lane]);
            EXPECT_PRED2(near, want.fastA2[k][lane], got.fastA2[k][lane]);
        }
        EXPECT_PRED2(near, want.sideGain[lane], got.sideGain[lane]);
        EXPECT_EQ(want.sideB1[lane], got.sideB1[lane]);
        EXPECT_EQ(want.sideB2[lane], got.sideB2[lane]);
        EXPECT_PRED2(near, want.sideA1[lane], got.sideA1[lane]);
        EXPECT_PRED2(near, want.sideA2[lane], got.sideA2[lane]);
    }
    EXPECT_PRED2(near, want.envelopeRate, got.envelopeRate);
    EXPECT_PRED2(near, want.energyRate, got.energyRate);
    EXPECT_EQ(want.hissWeight, got.hissWeight);
}

struct RegionCase {
    std::string name;
    LayoutChoice choice;
    double rate;
    bool takesOver; // whether the stage replaces the bank's lowest region
};

std::ostream& operator<<(std::ostream& out, const RegionCase& c) { return out << c.name; }

class ClarityLowRegion : public ::testing::TestWithParam<RegionCase> { };

// A steady low vowel (harmonics of 150 Hz up to 600 Hz) through the stage at full Clarity, with
// a made-up bank output: a layout whose bands are already fast keeps the bank's sound below
// 500 Hz; one with slow bands has it replaced by the stage's own.
TEST_P(ClarityLowRegion, IsReplacedOnlyWhereTheBandsAreSlow)
{
    const RegionCase& c = GetParam();
    const BandLayout layout
        = c.choice.kind == LayoutKind::Classic ? BandLayout::classic() : designed(c.choice, c.rate);
    ClarityStage stage(layout);
    stage.setAmount(1.0);
    const auto frames = static_cast<std::size_t>(c.rate);
    double changed = 0.0, total = 0.0;
    for (std::size_t t = 0; t < frames; ++t) {
        const double time = static_cast<double>(t) / c.rate;
        double voice = 0.0, carrier = 0.0;
        for (int k = 1; k <= 4; ++k) {
            voice += 0.2 / k * std::sin(2.0 * std::numbers::pi * 150.0 * k * time);
            carrier += 3000.0 / k * std::sin(2.0 * std::numbers::pi * 130.0 * k * time + k);
        }
        const double vocoded = 0.5 * carrier;
        const double out = stage.process(carrier, voice, vocoded, 1.0);
        if (t >= frames / 2) {
            changed += (out - vocoded) * (out - vocoded);
            total += vocoded * vocoded;
        }
    }
    const double ratio = std::sqrt(changed / total);
    if (c.takesOver)
        EXPECT_GT(ratio, 0.3);
    else
        EXPECT_LT(ratio, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ClarityLowRegion,
    ::testing::Values(RegionCase { "classic", LayoutChoice {}, 44100.0, true },
        RegionCase { "custom32_48000", custom(32), 48000.0, true },
        RegionCase { "custom32_96000", custom(32), 96000.0, true },
        RegionCase { "speech_44100", speech, 44100.0, false },
        RegionCase { "speech_96000", speech, 96000.0, false },
        RegionCase { "custom8_wide", custom(8, BandRange { 100.0, 8000.0 }), 48000.0, false }),
    [](const auto& param) { return param.param.name; });

// The designed coefficients go through every unit's parts, as the classic ones do: in blocks the
// stage gives process()'s bits on each.
TEST(ClarityOfADesignedLayout, GivesTheSameBitsOnEveryUnitAndInEveryBlocking)
{
    const auto signals = lumivox::engine::testing::musicalSignals(44100);
    for (const LayoutCase& c : { designedLayouts[0], designedLayouts[4] }) {
        const BandLayout layout = designed(c.choice, c.rate);
        ClarityStage reference(layout);
        reference.setAmount(0.7);
        std::vector<double> want(signals.carrier.size());
        for (std::size_t t = 0; t < want.size(); ++t)
            want[t] = reference.process(
                signals.carrier[t], signals.modulator[t], 0.3 * signals.carrier[t], 1.3);
        for (VectorUnit unit : vectorUnitsOfThisMachine()) {
            SCOPED_TRACE(c.name + " " + std::string(vectorUnitName(unit)));
            ClarityStage stage(layout);
            stage.setAmount(0.7);
            std::vector<double> got(want.size());
            for (std::size_t t = 0; t < got.size(); ++t)
                got[t] = 0.3 * signals.carrier[t];
            for (std::size_t start = 0, length = 1; start < got.size(); start += length) {
                length = std::min((length * 5 + 7) % 3001 + 1, got.size() - start);
                stage.processBlock(unit, signals.carrier.data() + start,
                    signals.modulator.data() + start, got.data() + start, length, 1.3);
            }
            EXPECT_EQ(differingSamples(want, got), 0u);
        }
    }
}

} // namespace
