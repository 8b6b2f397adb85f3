// Layouts of any band count: every path gives the per-sample reference's bits, and the bands do
// to the sound what a vocoder's bands do.
#include "band_layout.h"
#include "block_path.h"
#include "engine_signals.h"
#include "spread.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <ostream>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace lumivox::engine::testing {
namespace {

    struct LayoutCase {
        int count;
        double lowHz;
        double highHz;
        double rate;
    };

    void PrintTo(const LayoutCase& c, std::ostream* out)
    {
        *out << c.count << " bands " << c.lowHz << ":" << c.highHz << " Hz at " << c.rate;
    }

    BandLayout made(const LayoutCase& c)
    {
        const auto layout = BandLayout::logSpaced(c.count, c.lowHz, c.highHz, c.rate);
        if (!layout)
            throw std::runtime_error("layout refused");
        return *layout;
    }

    const LayoutCase layouts[] = {
        { 4, 100.0, 8000.0, 22050.0 },
        { 16, 22.5, 20000.0, 44100.0 },
        { 20, 100.0, 8000.0, 44100.0 }, // the last group of eight lanes part silent
        { 24, 50.0, 10000.0, 48000.0 },
        { 48, 22.5, 20000.0, 96000.0 },
        { 64, 10.0, 20000.0, 44100.0 },
    };

    const Settings settingsCases[] = {
        { 0.0, 0.0, 1.0 }, { 0.6, 0.3, 1.3 }, { 1.0, 0.0, 0.7 }, { 0.2, 1.0, 1.0 },
        { 0.0, 0.0, 1.0, 0.0, 3 }, // the harmonic bands blurred, the others not
        { 0.4, 0.3, 1.0, 0.0, 8 }, // the blur before Vagueness and Instrument Clearance
        { 0.0, 0.0, 1.0, 0.5 }, // Clarity: the carrier's bands levelled
        { 0.6, 0.3, 1.3, 0.8 }, // and with Vagueness and Instrument Clearance
        { 0.0, 0.0, 1.0, 0.5, 3 }, // levelled carrier bands under blurred harmonic bands
    };

    bool sameBits(std::span<const double> want, std::span<const double> got)
    {
        return std::ranges::equal(want, got, [](double a, double b) {
            return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
        });
    }

    constexpr std::size_t framesChecked = 20'000;
    constexpr std::size_t blockLength = 1500; // a whole number of chunks and a part

    using AnyBandCountCase = std::tuple<LayoutCase, VectorUnit, Settings>;
    class AnyBandCount : public ::testing::TestWithParam<AnyBandCountCase> { };

    std::string caseName(const ::testing::TestParamInfo<AnyBandCountCase>& info)
    {
        return std::to_string(std::get<0>(info.param).count) + "Bands_"
            + vectorUnitName(std::get<1>(info.param)) + "_" + std::to_string(info.index);
    }

} // namespace

// processBlock on every unit, and the two halves a block apart as two threads run them, give
// processSample's output and last levels bit for bit.
TEST_P(AnyBandCount, EveryPathGivesTheReferenceBits)
{
    const auto& [layoutCase, unit, settings] = GetParam();
    const BandLayout layout = made(layoutCase);
    const Signals signals = musicalSignals(framesChecked);

    VocoderEngine reference(layout);
    apply(reference, settings);
    std::vector<double> want(framesChecked);
    for (std::size_t t = 0; t < framesChecked; ++t)
        want[t] = reference.processSample(signals.carrier[t], signals.modulator[t]);
    ASSERT_EQ(reference.bandLevels().size(), static_cast<std::size_t>(layoutCase.count));

    const auto piece = [](const std::vector<double>& v, std::size_t first) {
        return std::span<const double>(v).subspan(first, std::min(blockLength, v.size() - first));
    };
    VocoderEngine oneThread(layout);
    apply(oneThread, settings);
    std::vector<double> inBlocks(framesChecked);
    for (std::size_t start = 0; start < framesChecked; start += blockLength) {
        const std::size_t length = piece(signals.carrier, start).size();
        processBlockWith(unit, oneThread, piece(signals.carrier, start),
            piece(signals.modulator, start), { inBlocks.data() + start, length });
    }
    EXPECT_EQ(differingSamples(want, inBlocks), 0u);
    EXPECT_TRUE(sameBits(reference.bandLevels(), oneThread.bandLevels()));

    VocoderEngine twoThreads(layout);
    apply(twoThreads, settings);
    twoThreads.prepareHalves();
    std::vector<double> inHalves(framesChecked);
    std::vector<std::vector<double>> handOver(2);
    const auto firstHalf = [&](std::size_t start) {
        std::vector<double>& values = handOver[start / blockLength % 2];
        values.assign(piece(signals.carrier, start).size() * VocoderEngine::handOverValues, 1.0);
        twoThreads.firstHalf(
            piece(signals.carrier, start), piece(signals.modulator, start), values, unit);
    };
    for (std::size_t start = 0; start < framesChecked; start += blockLength) {
        if (start == 0)
            firstHalf(start);
        if (start + blockLength < framesChecked)
            firstHalf(start + blockLength);
        const std::size_t length = piece(signals.carrier, start).size();
        twoThreads.secondHalf(piece(signals.carrier, start), piece(signals.modulator, start),
            handOver[start / blockLength % 2], { inHalves.data() + start, length }, unit);
    }
    EXPECT_EQ(differingSamples(want, inHalves), 0u);
    EXPECT_TRUE(sameBits(reference.bandLevels(), twoThreads.bandLevels()));
    EXPECT_GT(std::count_if(want.begin(), want.end(), [](double y) { return y != 0.0; }),
        static_cast<std::ptrdiff_t>(framesChecked / 2));
}

INSTANTIATE_TEST_SUITE_P(LayoutsUnitsAndSettings, AnyBandCount,
    ::testing::Combine(::testing::ValuesIn(layouts),
        ::testing::ValuesIn(vectorUnitsOfThisMachine()), ::testing::ValuesIn(settingsCases)),
    caseName);

namespace {

    // The modulator a sine at one band's centre, the carrier equal sines at every band's centre:
    // what the engine makes of them after a second.
    struct OneBandRun {
        std::vector<double> levels;
        std::vector<double> outputAtCentres; // the output's amplitude at each band's centre
    };

    OneBandRun runOneBand(const BandLayout& layout, int band, double vagueness, double clearance)
    {
        const double rate = layout.designRate();
        const std::vector<double> centres = layout.centresHz(rate);
        const auto frames = static_cast<std::size_t>(rate);
        const double omega = 2.0 * std::numbers::pi / rate;
        std::vector<double> carrier(frames);
        std::vector<double> modulator(frames);
        for (std::size_t t = 0; t < frames; ++t) {
            modulator[t] = 0.5 * std::sin(omega * centres[static_cast<std::size_t>(band)] * t);
            for (double centre : centres)
                carrier[t] += 1000.0 * std::sin(omega * centre * t);
        }
        VocoderEngine engine(layout);
        engine.setVagueness(vagueness);
        engine.setClearance(clearance);
        std::vector<double> output(frames);
        engine.processBlock(carrier, modulator, output);

        OneBandRun run;
        run.levels.assign(engine.bandLevels().begin(), engine.bandLevels().end());
        // A Blackman-Harris-windowed transform of the last half second at each centre: its
        // side lobes lie 92 dB down, so that a loud band does not light its neighbours' bins.
        const std::size_t first = frames / 2;
        const double length = static_cast<double>(frames - first);
        for (double centre : centres) {
            double re = 0.0;
            double im = 0.0;
            for (std::size_t t = first; t < frames; ++t) {
                const double x = 2.0 * std::numbers::pi * static_cast<double>(t - first) / length;
                const double window = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2.0 * x)
                    - 0.01168 * std::cos(3.0 * x);
                re += window * output[t] * std::cos(omega * centre * static_cast<double>(t));
                im += window * output[t] * std::sin(omega * centre * static_cast<double>(t));
            }
            run.outputAtCentres.push_back(std::hypot(re, im) / (0.35875 * length / 2.0));
        }
        return run;
    }

    double decibels(double ratio) { return 20.0 * std::log10(ratio); }

    // Bands whose level lies within 20 dB of the loudest.
    int litBands(const std::vector<double>& levels)
    {
        const double loudest = *std::ranges::max_element(levels);
        return static_cast<int>(
            std::ranges::count_if(levels, [&](double level) { return level > loudest * 0.1; }));
    }

    class BandsOfALayout : public ::testing::TestWithParam<LayoutCase> { };

} // namespace

// Below about 250 Hz a band's level ripples at twice its frequency, which the envelope low-pass
// (100 Hz) lets through in part; that ripple moves the band's carrier to other frequencies, as any
// channel vocoder's. Above, one band of the modulator gives one band of the output.
TEST_P(BandsOfALayout, ANarrowBandModulatorLightsOnlyItsBand)
{
    const BandLayout layout = made(GetParam());
    const std::vector<double> centres = layout.centresHz(layout.designRate());
    const int lowest = static_cast<int>(
        std::ranges::find_if(centres, [](double c) { return c > 250.0; }) - centres.begin());
    for (int band : { lowest, layout.bandCount() / 2, layout.bandCount() - 2 }) {
        const OneBandRun run = runOneBand(layout, band, 0.0, 0.0);
        const auto at = [&](int k) { return run.outputAtCentres[static_cast<std::size_t>(k)]; };
        EXPECT_GT(at(band), 100.0) << "band " << band;
        for (int other = 0; other < layout.bandCount(); ++other) {
            if (std::abs(other - band) >= 2) {
                EXPECT_LT(decibels(at(other) / at(band)), -40.0)
                    << "band " << band << " lit band " << other;
            }
        }
    }
}

TEST_P(BandsOfALayout, VaguenessWidensTheSpreadOfLevels)
{
    const BandLayout layout = made(GetParam());
    const int band = layout.bandCount() / 2;
    int previous = 0;
    for (double vagueness : { 0.0, 0.5, 0.8, 1.0 }) {
        const int lit = litBands(runOneBand(layout, band, vagueness, 0.0).levels);
        EXPECT_GE(lit, previous) << "Vagueness " << vagueness;
        previous = lit;
    }
    EXPECT_LE(litBands(runOneBand(layout, band, 0.0, 0.0).levels), 3);
    // At full Vagueness every band within the layout's reach shares the level.
    EXPECT_GE(previous, std::min(layout.bandCount(), 2 * layout.spreadReach() + 1));
}

// No Vagueness blurs no band, whatever the band count; full Vagueness reaches as far as the
// layout lets it.
TEST_P(BandsOfALayout, VaguenessZeroLeavesEveryLevelItsOwn)
{
    const BandLayout layout = made(GetParam());
    EXPECT_FALSE(smooths(makeSpread(0.0, layout)));
    EXPECT_EQ(makeSpread(1.0, layout).reach, layout.spreadReach());
}

TEST_P(BandsOfALayout, InstrumentClearanceFlattensTheLevels)
{
    const BandLayout layout = made(GetParam());
    const int band = layout.bandCount() / 2;
    double previousRange = INFINITY;
    for (double clearance : { 0.0, 0.3, 0.7, 1.0 }) {
        const std::vector<double> levels = runOneBand(layout, band, 0.0, clearance).levels;
        const auto [low, high] = std::ranges::minmax_element(levels);
        const double range = *high - *low;
        EXPECT_LT(range, previousRange) << "Clearance " << clearance;
        previousRange = range;
        if (clearance == 1.0) {
            EXPECT_EQ(*high, *low);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, BandsOfALayout,
    ::testing::Values(LayoutCase { 8, 100.0, 8000.0, 22050.0 },
        LayoutCase { 16, 50.0, 16000.0, 48000.0 }, LayoutCase { 48, 40.0, 20000.0, 96000.0 }));

} // namespace lumivox::engine::testing
