#include "band_design.h"
#include "band_layout.h"
#include "filter_primitives.h"
#include "filter_tables.h"
#include "frequency_response.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>

namespace lumivox::engine {
namespace {

    using testing::designRate;
    using testing::fromDecibels;
    using testing::magnitude;

    const double rippleFloor = fromDecibels(-1.0000555);

    std::span<const double> bandRow(int band)
    {
        return bandCoefficients().subspan(
            static_cast<std::size_t>(band * bandRowSize), bandRowSize);
    }

    FilterCascade bandCascade(int band)
    {
        FilterCascade cascade(bandSectionCount);
        loadCoefficients(cascade, bandRow(band));
        return cascade;
    }

    BandEdges edges(int band)
    {
        return BandLayout::classic().edges()[static_cast<std::size_t>(band)];
    }

    double warp(double hertz) { return std::tan(std::numbers::pi * hertz / designRate); }
    double unwarp(double omega) { return std::atan(omega) * designRate / std::numbers::pi; }

    double centreHz(int band)
    {
        return unwarp(std::sqrt(warp(edges(band).lowHz) * warp(edges(band).highHz)));
    }

    // The frequency whose band-pass image lies at the prototype frequency lambda (either sign).
    double bandPassImageHz(int band, double lambda)
    {
        const double omega1 = warp(edges(band).lowHz);
        const double omega2 = warp(edges(band).highHz);
        const double bandwidth = omega2 - omega1;
        const double lb = lambda * bandwidth;
        return unwarp((lb + std::sqrt(lb * lb + 4.0 * omega1 * omega2)) / 2.0);
    }

    // The prototype's stop-band edge, read off band 18's stop-bands (below 862 Hz, above 1415 Hz).
    double prototypeStopEdge()
    {
        const double omega1 = warp(999.0);
        const double omega2 = warp(1221.0);
        const auto lambda = [&](double hertz) {
            const double omega = warp(hertz);
            return std::abs((omega * omega - omega1 * omega2) / ((omega2 - omega1) * omega));
        };
        return std::max(lambda(862.0), lambda(1415.0));
    }

    struct ExampleRow {
        int band;
        double gain;
        std::array<std::array<double, 4>, 5> sections;
    };

    // Rows as the product documents print them, in the shortest form that reads back the same.
    const std::array<ExampleRow, 3> exampleRows { {
        { 0, 3.391542868178266e-07,
            { { { -1e-14, -1.0, -1.99981900658474, 0.9998270444349 },
                { -1.9999820161, 1.0, -1.99984952202566, 0.99985865041667 },
                { -1.9999964068905, 1.0, -1.99986845609357, 0.99987553396969 },
                { -1.99998650685951, 1.0, -1.99993878220467, 0.99994859099032 },
                { -1.99999521103517, 1.0, -1.99995128242178, 0.99995786990221 } } } },
        { 18, 1.86577654029823e-05,
            { { { -1.45439216225896e-14, -0.999999999999984, -1.9658515044579, 0.99044520200974 },
                { -1.94496079205933, 0.999999999999998, -1.96424332946303, 0.992189161118629 },
                { -1.98895160405475, 0.999999999999995, -1.97142230381556, 0.993111767954657 },
                { -1.95860641865391, 0.999999999999998, -1.96705791170638, 0.997153375942904 },
                { -1.98527222094379, 1.0, -1.97742913139616, 0.997662717487354 } } } },
        { 31, 0.000193983946780984,
            { { { -5.88418203051333e-15, -0.999999999999995, 1.76985026367708, 0.923704459685377 },
                { 0.87224185804209, 0.999999999999995, 1.70017678472894, 0.930433246719925 },
                { 1.98240133698635, 1.0, 1.84819850629627, 0.952172170373471 },
                { 1.3321092751861, 1.0, 1.68149541896094, 0.973174902095945 },
                { 1.96567108100315, 1.0, 1.90063549348238, 0.985114101561871 } } } },
    } };

    const std::array<double, 32> documentedGains { 3.391542868178266e-07, 4.239150900034471e-07,
        5.08664905565587e-07, 6.78131813262725e-07, 8.47555488640455e-07, 1.01693641018207e-06,
        1.18627505612393e-06, 1.52482743292504e-06, 1.86321644003354e-06, 2.45501557310218e-06,
        3.04634650328447e-06, 3.89033320868872e-06, 4.90199443169628e-06, 6.080846929259e-06,
        7.59451818863621e-06, 9.60980578921324e-06, 1.19577202102153e-05, 1.49732825629174e-05,
        1.86577654029823e-05, 2.31846005220627e-05, 2.90747059098406e-05, 3.63716165171553e-05,
        4.58556662259742e-05, 5.77379346845561e-05, 7.35313791297479e-05, 9.47458339623462e-05,
        0.000124304042361743, 0.000168044233353728, 0.000236295500009553, 0.000350307363697772,
        0.000556204618069237, 0.000193983946780984 };

    const std::array<double, 32> documentedCentresHz { 19.90, 24.87, 30.85, 38.79, 48.74, 60.70,
        75.68, 94.57, 118.49, 148.80, 185.13, 231.86, 289.55, 362.22, 452.77, 565.14, 707.46,
        883.55, 1104.48, 1381.21, 1726.53, 2157.56, 2698.10, 3372.42, 4216.44, 5272.70, 6594.29,
        8251.72, 10332.47, 12958.50, 16328.30, 19223.84 };

} // namespace

TEST(BandTable, AgreesWithTheDesignRuleInEveryValue)
{
    for (int band = 0; band < classicBandCount; ++band) {
        const auto row = bandRow(band);
        const BandRow designed = designBandPass(edges(band), designRate);
        EXPECT_NEAR(row[0], designed[0], 1e-12 * designed[0]) << "gain of band " << band;
        for (std::size_t i = 1; i < row.size(); ++i)
            EXPECT_NEAR(row[i], designed[i], 1e-12) << "band " << band << " value " << i;
    }
}

// The envelope's table is taken bit for bit; designing it again at its rate lands on it.
TEST(BandTable, EnvelopeTableAgreesWithTheEnvelopeDesign)
{
    const EnvelopeRow designed = designEnvelopeLowPass(BandLayout::envelopeCutoffHz, designRate);
    const auto table = envelopeCoefficients();
    EXPECT_NEAR(table[0], designed[0], 1e-12 * designed[0]) << "gain";
    for (std::size_t i = 1; i < table.size(); ++i)
        EXPECT_NEAR(table[i], designed[i], 1e-12) << "value " << i;
}

TEST(BandTable, TableHoldsTheDocumentedExampleRows)
{
    for (const ExampleRow& example : exampleRows) {
        const auto row = bandRow(example.band);
        EXPECT_NEAR(row[0], example.gain, 1e-12 * example.gain);
        for (std::size_t s = 0; s < example.sections.size(); ++s) {
            for (std::size_t v = 0; v < 4; ++v)
                EXPECT_NEAR(row[1 + 4 * s + v], example.sections[s][v], 1e-12)
                    << "band " << example.band << " section " << s << " value " << v;
        }
    }
}

// The block path leaves out the multiplies by these numerator values; with any other value it
// would no longer match processSample.
TEST(BandTable, EverySectionHasItsZerosExactlyAtZeroAndHalfTheRate)
{
    for (int band = 0; band < classicBandCount; ++band) {
        const FilterCascade cascade = bandCascade(band);
        const BiquadSection& first = cascade.sections[0];
        EXPECT_EQ(std::bit_cast<std::uint64_t>(first.b1), 0u) << "band " << band; // +0.0
        EXPECT_EQ(first.b2, -1.0) << "band " << band;
        for (int s = 1; s < bandSectionCount; ++s)
            EXPECT_EQ(cascade.sections[s].b2, 1.0) << "band " << band << " section " << s;
    }
}

TEST(BandTable, GainsOfAllBandsMatchTheDocumentedGains)
{
    for (int band = 0; band < classicBandCount; ++band) {
        const double documented = documentedGains[static_cast<std::size_t>(band)];
        EXPECT_NEAR(bandRow(band)[0], documented, 1e-12 * documented) << "band " << band;
    }
}

TEST(BandTable, BandEdgesGiveTheDocumentedCentres)
{
    for (int band = 0; band < classicBandCount; ++band)
        EXPECT_NEAR(centreHz(band), documentedCentresHz[static_cast<std::size_t>(band)], 0.0051)
            << "band " << band;
}

TEST(BandResponse, IsOneAtTheCentreFrequency)
{
    for (int band = 0; band < classicBandCount; ++band)
        EXPECT_NEAR(magnitude(bandCascade(band), centreHz(band)), 1.0, 1e-8) << "band " << band;
}

TEST(BandResponse, SitsAtTheRippleFloorAtBothEdges)
{
    for (int band = 0; band < classicBandCount; ++band) {
        const FilterCascade cascade = bandCascade(band);
        EXPECT_NEAR(magnitude(cascade, edges(band).lowHz), rippleFloor, 1e-7) << "band " << band;
        EXPECT_NEAR(magnitude(cascade, edges(band).highHz), rippleFloor, 1e-7) << "band " << band;
    }
}

TEST(BandResponse, StaysWithinTheRippleAcrossThePassBand)
{
    for (int band = 0; band < classicBandCount; ++band) {
        const FilterCascade cascade = bandCascade(band);
        const double low = edges(band).lowHz;
        const double high = edges(band).highHz;
        constexpr int steps = 400;
        for (int i = 0; i <= steps; ++i) {
            const double hertz = low + (high - low) * i / steps;
            const double m = magnitude(cascade, hertz);
            EXPECT_LE(m, 1.0 + 1e-8) << "band " << band << " at " << hertz << " Hz";
            EXPECT_GE(m, rippleFloor - 1e-7) << "band " << band << " at " << hertz << " Hz";
        }
    }
}

TEST(BandResponse, IsAtLeast80DecibelsDownInTheStopBands)
{
    const double stopEdge = prototypeStopEdge();
    const double ceiling = fromDecibels(-80.0);
    for (int band = 0; band < classicBandCount; ++band) {
        const FilterCascade cascade = bandCascade(band);
        const double lowerStop = bandPassImageHz(band, -stopEdge);
        const double upperStop = bandPassImageHz(band, stopEdge);
        ASSERT_LT(lowerStop, edges(band).lowHz);
        ASSERT_GT(upperStop, edges(band).highHz);
        constexpr int steps = 2000;
        for (int i = 0; i <= steps; ++i) {
            const double below = lowerStop * i / steps;
            const double above = upperStop + (designRate / 2.0 - upperStop) * i / steps;
            EXPECT_LE(magnitude(cascade, below), ceiling) << "band " << band << " at " << below;
            EXPECT_LE(magnitude(cascade, above), ceiling) << "band " << band << " at " << above;
        }
    }
}

TEST(BandResponse, Band18StopBandsAreWhereDocumented)
{
    const FilterCascade cascade = bandCascade(18);
    EXPECT_LE(magnitude(cascade, 862.0), fromDecibels(-80.0));
    EXPECT_LE(magnitude(cascade, 1415.0), fromDecibels(-80.0));
    EXPECT_GT(magnitude(cascade, 870.0), fromDecibels(-80.0));
    EXPECT_GT(magnitude(cascade, 1405.0), fromDecibels(-80.0));
}

TEST(BandResponse, NeighbouringBandsCrossBetween8And17DecibelsDown)
{
    for (int band = 0; band + 1 < classicBandCount; ++band) {
        const FilterCascade lower = bandCascade(band);
        const FilterCascade upper = bandCascade(band + 1);
        // Walk the gap between the two pass-bands to where the responses meet.
        double from = edges(band).highHz;
        double to = edges(band + 1).lowHz;
        for (int i = 0; i < 60; ++i) {
            const double mid = (from + to) / 2.0;
            (magnitude(lower, mid) > magnitude(upper, mid) ? from : to) = mid;
        }
        const double crossingDb = 20.0 * std::log10(magnitude(lower, from));
        EXPECT_GE(crossingDb, -17.5) << "bands " << band << " and " << band + 1;
        EXPECT_LE(crossingDb, -7.5) << "bands " << band << " and " << band + 1;
    }
}

TEST(BandCascade, ConstantAndAlternatingInputsDecayToZero)
{
    for (int band = 0; band < classicBandCount; ++band) {
        FilterCascade constant = bandCascade(band);
        FilterCascade alternating = bandCascade(band);
        // The lowest band rings for about 1.5 million samples; each band up rings 1.25 times less.
        const int sampleCount = std::max(20'000, static_cast<int>(1.8e6 / std::pow(1.25, band)));
        double largestTail = 0.0;
        for (int n = 0; n < sampleCount; ++n) {
            const double constantOut = constant.process(1.0);
            const double alternatingOut = alternating.process(n % 2 == 0 ? 1.0 : -1.0);
            if (n >= sampleCount - 1000)
                largestTail
                    = std::max({ largestTail, std::abs(constantOut), std::abs(alternatingOut) });
        }
        EXPECT_LT(largestTail, 1e-15) << "band " << band;
    }
}

} // namespace lumivox::engine
