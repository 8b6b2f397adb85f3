#include "band_layout.h"

#include "filter_tables.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace lumivox::engine {

namespace {

    // The classic bands at 44100 Hz, lowest first: roughly 20 * 1.25^k Hz, each reaching about
    // 10 % either side.
    constexpr std::array<BandEdges, 32> classicEdges { {
        { 18, 22 },
        { 22.5, 27.5 },
        { 28, 34 },
        { 35, 43 },
        { 44, 54 },
        { 55, 67 },
        { 69, 83 },
        { 86, 104 },
        { 108, 130 },
        { 135, 164 },
        { 168, 204 },
        { 210, 256 },
        { 262, 320 },
        { 328, 400 },
        { 410, 500 },
        { 511, 625 },
        { 640, 782 },
        { 799, 977 },
        { 999, 1221 },
        { 1250, 1526 },
        { 1562, 1908 },
        { 1952, 2384 },
        { 2440, 2982 },
        { 3050, 3726 },
        { 3812, 4658 },
        { 4765, 5823 },
        { 5956, 7278 },
        { 7445, 9099 },
        { 9306, 11374 },
        { 11633, 14217 },
        { 14541, 17771 },
        { 18176, 20000 },
    } };
    static_assert(classicEdges.size() == static_cast<std::size_t>(classicBandCount));

    constexpr int classicReach = classicSpread;
    constexpr std::size_t rowSize = std::tuple_size_v<BandRow>;
    static_assert(rowSize == static_cast<std::size_t>(bandRowSize));

    double warp(double hertz, double sampleRate)
    {
        return std::tan(std::numbers::pi * hertz / sampleRate);
    }

} // namespace

void BandLayout::finish()
{
    harmonicBands = 0;
    while (harmonicBands < bandCount()
        && bandEdges[static_cast<std::size_t>(harmonicBands)].highHz
                - bandEdges[static_cast<std::size_t>(harmonicBands)].lowHz
            < harmonicSpacingHz)
        ++harmonicBands;
    // The classic share of the bands, rounded, and at least one neighbour.
    const long scaled = std::lround(classicReach * bandCount() / 32.0);
    reach = static_cast<int>(std::clamp(scaled, 1L, static_cast<long>(maxSpread)));
}

BandLayout BandLayout::classic()
{
    BandLayout layout;
    layout.bandEdges.assign(classicEdges.begin(), classicEdges.end());
    layout.rate = classicDesignRate;
    layout.classicLayout = true;
    const auto table = bandCoefficients();
    layout.rows.assign(table.begin(), table.end());
    std::ranges::copy(envelopeCoefficients(), layout.envelope.begin());
    layout.finish();
    return layout;
}

std::optional<BandLayout> BandLayout::logSpaced(
    int count, double lowHz, double highHz, double sampleRate)
{
    // Written so that a value that is not a number fails every test.
    if (!(count >= fewestBands && count <= mostBands) || !(sampleRate > 0.0) || !(lowHz >= lowestHz)
        || !(highHz <= highestShareOfRate * sampleRate) || !(lowHz < highHz))
        return std::nullopt;

    // Each band's share of the range on a log scale; its pass-band takes classicPassShare of it,
    // so that band 0 starts at lowHz and the last band ends at highHz.
    const double logLow = std::log(lowHz);
    const double step = (std::log(highHz) - logLow) / (count - 1 + classicPassShare);
    BandLayout layout;
    layout.rate = sampleRate;
    for (int band = 0; band < count; ++band) {
        const double start = logLow + band * step;
        const double low = band == 0 ? lowHz : std::exp(start);
        const double high = band == count - 1 ? highHz : std::exp(start + classicPassShare * step);
        layout.bandEdges.push_back({ low, high });
        const BandRow row = designBandPass({ low, high }, sampleRate);
        layout.rows.insert(layout.rows.end(), row.begin(), row.end());
    }
    layout.envelope = designEnvelopeLowPass(envelopeCutoffHz, sampleRate);
    layout.finish();
    return layout;
}

double BandLayout::centreHz(int band, double sampleRate) const
{
    const BandEdges& e = bandEdges[static_cast<std::size_t>(std::clamp(band, 0, bandCount() - 1))];
    const double atDesignRate = rate / std::numbers::pi
        * std::atan(std::sqrt(warp(e.lowHz, rate) * warp(e.highHz, rate)));
    return atDesignRate * sampleRate / rate;
}

std::vector<double> BandLayout::centresHz(double sampleRate) const
{
    std::vector<double> centres;
    for (int band = 0; band < bandCount(); ++band)
        centres.push_back(centreHz(band, sampleRate));
    return centres;
}

std::span<const double> BandLayout::bandRow(int band) const
{
    return std::span<const double>(rows).subspan(static_cast<std::size_t>(band) * rowSize, rowSize);
}

} // namespace lumivox::engine
