#include "band_layout.h"
#include "filter_primitives.h"
#include "filter_tables.h"
#include "frequency_response.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <numbers>
#include <ostream>
#include <string>

namespace lumivox::engine {
namespace {
    using testing::imageHz;
    using testing::prototypeStopEdge;
    using testing::unwarp;
    using testing::warp;

    using testing::fromDecibels;
    using testing::magnitude;

    struct LayoutCase {
        int count;
        double lowHz;
        double highHz;
        double rate;
    };

    std::string describe(const LayoutCase& c)
    {
        return std::to_string(c.count) + " bands " + std::to_string(c.lowHz) + " to "
            + std::to_string(c.highHz) + " Hz at " + std::to_string(c.rate);
    }

    void PrintTo(const LayoutCase& c, std::ostream* out) { *out << describe(c); }

    FilterCascade cascadeOf(std::span<const double> row)
    {
        FilterCascade cascade(static_cast<int>((row.size() - 1) / 4));
        loadCoefficients(cascade, row);
        return cascade;
    }

    class DesignedLayout : public ::testing::TestWithParam<LayoutCase> {
    protected:
        BandLayout layout() const
        {
            const LayoutCase& c = GetParam();
            const auto made = BandLayout::logSpaced(c.count, c.lowHz, c.highHz, c.rate);
            if (!made)
                throw std::runtime_error("no layout for " + describe(c));
            return *made;
        }
    };

} // namespace

TEST_P(DesignedLayout, SpansTheRangeWithBandsInOrderThatDoNotOverlap)
{
    const BandLayout l = layout();
    const LayoutCase& c = GetParam();
    ASSERT_EQ(l.bandCount(), c.count);
    EXPECT_EQ(l.designRate(), c.rate);
    EXPECT_FALSE(l.isClassic());
    EXPECT_EQ(l.edges().front().lowHz, c.lowHz);
    EXPECT_EQ(l.edges().back().highHz, c.highHz);
    for (int band = 0; band < c.count; ++band) {
        const BandEdges e = l.edges()[static_cast<std::size_t>(band)];
        EXPECT_LT(e.lowHz, e.highHz) << "band " << band;
        if (band > 0) {
            EXPECT_LT(l.edges()[static_cast<std::size_t>(band - 1)].highHz, e.lowHz)
                << "band " << band;
        }
        EXPECT_GT(l.centreHz(band, c.rate), e.lowHz);
        EXPECT_LT(l.centreHz(band, c.rate), e.highHz);
    }
}

// Every band as the classic ones: exactly 1 at its centre, at most 1.0000555 dB of ripple across
// its pass-band, and at least 80 dB down beyond the prototype's stop edge, at the layout's rate.
TEST_P(DesignedLayout, EveryBandPassesItsBandAndStopsTheRest)
{
    const BandLayout l = layout();
    const double rate = GetParam().rate;
    const double rippleFloor = fromDecibels(-1.0000555);
    const double stopEdge = prototypeStopEdge();
    for (int band = 0; band < l.bandCount(); ++band) {
        SCOPED_TRACE("band " + std::to_string(band) + " of " + describe(GetParam()));
        const FilterCascade cascade = cascadeOf(l.bandRow(band));
        const BandEdges e = l.edges()[static_cast<std::size_t>(band)];
        EXPECT_NEAR(magnitude(cascade, l.centreHz(band, rate), rate), 1.0, 1e-7);
        constexpr int steps = 100;
        for (int i = 0; i <= steps; ++i) {
            const double hertz = e.lowHz + (e.highHz - e.lowHz) * i / steps;
            const double m = magnitude(cascade, hertz, rate);
            ASSERT_LE(m, 1.0 + 1e-7) << hertz << " Hz";
            ASSERT_GE(m, rippleFloor - 1e-6) << hertz << " Hz";
        }
        const double lowerStop = imageHz(e.lowHz, e.highHz, rate, -stopEdge);
        const double upperStop = imageHz(e.lowHz, e.highHz, rate, stopEdge);
        const double ceiling = fromDecibels(-80.0) * (1.0 + 1e-6);
        for (int i = 0; i <= steps; ++i) {
            const double below = lowerStop * i / steps;
            const double above = upperStop + (rate / 2.0 - upperStop) * i / steps;
            ASSERT_LE(magnitude(cascade, below, rate), ceiling) << below << " Hz";
            ASSERT_LE(magnitude(cascade, above, rate), ceiling) << above << " Hz";
        }
    }
}

// The envelope low-pass designed at the layout's rate keeps its figures in Hz: -1 dB at zero
// frequency, no more than 1 dB of ripple up to 100 Hz, 3 dB down near 105 Hz and at least 80 dB
// down from its stop edge (424.5 Hz at 44100 Hz, the same edge of the prototype at other rates).
TEST_P(DesignedLayout, EnvelopeLowPassKeepsItsFiguresInHertz)
{
    const BandLayout l = layout();
    const double rate = GetParam().rate;
    const FilterCascade envelope = cascadeOf(l.envelopeRow());
    EXPECT_NEAR(testing::zeroFrequencyGain(envelope), fromDecibels(-1.0), 1e-9);
    for (double hertz = 0.0; hertz <= 100.0; hertz += 2.5) {
        EXPECT_LE(magnitude(envelope, hertz, rate), 1.0 + 1e-9) << hertz;
        EXPECT_GE(magnitude(envelope, hertz, rate), fromDecibels(-1.0) - 1e-9) << hertz;
    }
    EXPECT_NEAR(20.0 * std::log10(magnitude(envelope, 105.1, rate)), -3.0, 0.1);
    const double stopEdge
        = unwarp(warp(424.5, 44100.0) / warp(100.0, 44100.0) * warp(100.0, rate), rate);
    EXPECT_NEAR(stopEdge, 424.5, 1.5);
    for (double hertz = stopEdge; hertz < rate / 2.0; hertz *= 1.01)
        ASSERT_LE(magnitude(envelope, hertz, rate), fromDecibels(-80.0) * (1.0 + 1e-6)) << hertz;
}

INSTANTIATE_TEST_SUITE_P(CountsRangesAndRates, DesignedLayout,
    ::testing::Values(LayoutCase { 4, 100.0, 8000.0, 22050.0 },
        LayoutCase { 16, 22.5, 20000.0, 44100.0 }, LayoutCase { 24, 50.0, 10000.0, 48000.0 },
        LayoutCase { 32, 100.0, 8000.0, 96000.0 }, LayoutCase { 48, 22.5, 20000.0, 96000.0 },
        LayoutCase { 64, 10.0, 0.46 * 192000.0, 192000.0 }));

TEST(BandLayout, RefusesCountsAndRangesOutsideWhatItDesigns)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const LayoutCase refused[] = {
        { 3, 100.0, 8000.0, 44100.0 },
        { 65, 100.0, 8000.0, 44100.0 },
        { 16, 9.9, 8000.0, 44100.0 },
        { 16, 100.0, 0.46 * 44100.0 + 1.0, 44100.0 },
        { 16, 5000.0, 100.0, 44100.0 },
        { 16, 1000.0, 1000.0, 44100.0 },
        { 16, nan, 8000.0, 44100.0 },
        { 16, 100.0, 8000.0, 0.0 },
    };
    for (const LayoutCase& c : refused)
        EXPECT_FALSE(BandLayout::logSpaced(c.count, c.lowHz, c.highHz, c.rate)) << describe(c);
    EXPECT_TRUE(BandLayout::logSpaced(4, 10.0, 0.46 * 44100.0, 44100.0));
    EXPECT_TRUE(BandLayout::logSpaced(64, 10.0, 0.46 * 44100.0, 44100.0));
}

TEST(BandLayout, ClassicIsTheConstantTableAndMovesWithTheRate)
{
    const BandLayout classic = BandLayout::classic();
    EXPECT_TRUE(classic.isClassic());
    ASSERT_EQ(classic.bandCount(), 32);
    EXPECT_EQ(classic.designRate(), 44100.0);
    for (int band = 0; band < 32; ++band) {
        const auto row = classic.bandRow(band);
        const auto table = bandCoefficients().subspan(static_cast<std::size_t>(band) * 21, 21);
        EXPECT_TRUE(std::equal(row.begin(), row.end(), table.begin())) << "band " << band;
    }
    EXPECT_TRUE(std::ranges::equal(classic.envelopeRow(), envelopeCoefficients()));
    // Band 18 passes 999 to 1221 Hz at 44100 Hz, and 499.5 to 610.5 Hz at 22050 Hz.
    EXPECT_NEAR(classic.centreHz(18, 44100.0), 1104.48, 0.005);
    EXPECT_NEAR(classic.centreHz(18, 22050.0), 1104.48 / 2.0, 0.005);
}

// The bands narrower than a voice's harmonic spacing, and how far Vagueness reaches: the classic
// figures, and the same share of the bands in other layouts.
TEST(BandLayout, HarmonicBandsAndReachFollowTheLayout)
{
    const BandLayout classic = BandLayout::classic();
    EXPECT_EQ(classic.harmonicBandCount(), 19);
    EXPECT_EQ(classic.spreadReach(), 14);
    const struct {
        int count;
        int reach;
    } reaches[] = { { 4, 2 }, { 16, 7 }, { 32, 14 }, { 48, 21 }, { 64, 28 } };
    for (const auto& r : reaches) {
        const auto l = BandLayout::logSpaced(r.count, 22.5, 20000.0, 44100.0);
        ASSERT_TRUE(l);
        EXPECT_EQ(l->spreadReach(), r.reach) << r.count << " bands";
        for (int band = 0; band < l->bandCount(); ++band) {
            const BandEdges e = l->edges()[static_cast<std::size_t>(band)];
            EXPECT_EQ(band < l->harmonicBandCount(), e.highHz - e.lowHz < 250.0)
                << r.count << " bands, band " << band;
        }
    }
}

} // namespace lumivox::engine
