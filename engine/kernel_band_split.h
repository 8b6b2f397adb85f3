#pragma once

// The two sides of a run split by bands while Vagueness or Instrument Clearance join the bands:
// the lower side takes the lower half of the padded bank, the upper side the rest, and both work
// on the same frames at the same time. What joins the halves is small, so that is all they hand
// each other, frame by frame: the lower half's share of the level sum (which the upper side
// completes in band order and hands back, for Instrument Clearance's mean), the levels of the
// bands next to the split as far as Vagueness reaches (each way), and the lower half's share of
// the output, to which the upper side adds its own products in band order. Every sum is formed in
// the order one thread forms it, so the output is the same bits.

#include "kernel_two_threads.h"

namespace lumivox::engine::kernel {

// Whether a run split by bands can take these settings: only without the harmonic bands' blur
// and Clarity's steps for a designed layout (which need every band's level or carrier band, or
// the modulator's past, on one side), and with some of the layout's bands in the upper half.
constexpr bool splitsBandsWithExchange(const BlockSettings& settings, int paddedBands)
{
    return (settings.smoothing || settings.clearing) && !settings.blurring && !settings.levelling
        && !settings.aligning && settings.bands > lowerBandCount(paddedBands);
}

// The neighbours across the split that Vagueness reaches, each way.
constexpr int exchangedNeighbours(const BlockSettings& settings, int paddedBands)
{
    if (!settings.smoothing)
        return 0;
    const int lower = lowerBandCount(paddedBands);
    return std::min(settings.reach, std::min(lower, paddedBands - lower));
}

// The few levels next to the split, one by one: a library copy per frame costs more.
LUMIVOX_INLINE void copyNeighbours(const double* from, int count, double* to)
{
    for (int k = 0; k < count; ++k)
        to[k] = from[k];
}

// Whether the levels next to the split go across as whole groups of the widest unit's lanes,
// stored by the analysis as it makes them: when the neighbours Vagueness reaches fill at least
// half a group. A pass over the rows afterwards that copies them one by one then costs more (a
// quarter of the lower side's analysis at full Vagueness: it reads back rows 512 bytes apart)
// than the unused values cost in the lines that cross between the cores; with fewer neighbours
// they go one by one, packed, so that few lines cross.
constexpr int edgeGroup = 8;
constexpr bool edgeByGroups(const BlockSettings& settings, int paddedBands)
{
    return 2 * exchangedNeighbours(settings, paddedBands) >= edgeGroup;
}

// The levels a side hands across the split per frame: the neighbours, rounded up to whole groups
// when they go by groups.
constexpr int exchangedSpan(const BlockSettings& settings, int paddedBands)
{
    const int count = exchangedNeighbours(settings, paddedBands);
    return edgeByGroups(settings, paddedBands) ? (count + edgeGroup - 1) / edgeGroup * edgeGroup
                                               : count;
}

// What the analysis of a side leaves: the carrier bands in their rows, and the levels of the
// groups next to the split also in the exchange (span values a frame from band edgeFirst).
template <int Width, typename Rows> struct KeepCarrierBandsAndEdge {
    const Rows& rows;
    double* edge;
    int edgeFirst;
    int span;

    LUMIVOX_INLINE void operator()(
        int t, int firstBand, Lane<Width> carrierBands, Lane<Width> levels) const
    {
        store<Width>(rows.carrierBands(t) + firstBand, carrierBands);
        const int offset = firstBand - edgeFirst;
        if (offset >= 0 && offset < span)
            store<Width>(edge + t * span + offset, levels);
    }
};

// The analysis of a side's bands [firstBand, endBand), with the levels of the groups from band
// edgeFirst into the exchange when they go by groups.
template <int Width>
LUMIVOX_INLINE void analyseSide(BandLanes& lanes, auto& rows, const BlockSettings& settings,
    int firstBand, int endBand, const double* carrier, const double* modulator, int frameCount,
    double* edge, int edgeFirst)
{
    using Rows = std::remove_cvref_t<decltype(rows)>;
    if (edgeByGroups(settings, Rows::bands())) {
        const KeepCarrierBandsAndEdge<Width, Rows> keep { rows, edge, edgeFirst,
            exchangedSpan(settings, Rows::bands()) };
        analyseBands<Width>(lanes, rows, firstBand, endBand, carrier, modulator, frameCount, keep);
    } else {
        const KeepCarrierBands<Width, Rows> keep { rows };
        analyseBands<Width>(lanes, rows, firstBand, endBand, carrier, modulator, frameCount, keep);
    }
}

// Lower side, first step: the analysis of the lower bands of frameCount frames into the rows and
// the top span levels (exchangedSpan) of each frame into edge[t * span + k], and for each frame
// its share of the level sum (from 0.0, in band order) in share[t] when clearing.
template <int Width>
LUMIVOX_INLINE void lowerLevels(BandLanes& lanes, auto& rows, const BlockSettings& settings,
    const double* carrier, const double* modulator, int frameCount, double* share, double* edge)
{
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    constexpr int lower = lowerBandCount(bands);
    const int span = exchangedSpan(settings, bands);
    analyseSide<Width>(
        lanes, rows, settings, 0, lower, carrier, modulator, frameCount, edge, lower - span);
    if (settings.clearing)
        sumRows([&rows](int t) { return rows.levels(t); }, lower, 0, frameCount, share);
    if (!edgeByGroups(settings, bands)) {
        for (int t = 0; t < frameCount; ++t)
            copyNeighbours(rows.levels(t) + lower - span, span, edge + t * span);
    }
}

// Upper side, first step: the analysis of the upper bands into the rows (and, when they go by
// groups, the bottom span levels of each frame into edge), the padding past the layout's bands
// silenced for Vagueness in both.
template <int Width>
LUMIVOX_INLINE void upperLevels(BandLanes& lanes, auto& rows, const BlockSettings& settings,
    const double* carrier, const double* modulator, int frameCount, double* edge)
{
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    constexpr int lower = lowerBandCount(bands);
    analyseSide<Width>(
        lanes, rows, settings, lower, bands, carrier, modulator, frameCount, edge, lower);
    if (settings.smoothing)
        silencePadding(rows, settings, 0, frameCount);
    if (edgeByGroups(settings, bands)) {
        const int span = exchangedSpan(settings, bands);
        const int firstSilent = std::max(settings.bands - lower, 0);
        for (int t = 0; firstSilent < span && t < frameCount; ++t)
            std::fill(edge + t * span + firstSilent, edge + (t + 1) * span, -0.0);
    }
}

// Upper side, second step, once the lower side's first step has handed over: the whole level sums
// (the lower share, then the upper bands in order) into sums when clearing, and, unless the
// analysis stored them by groups, its bottom span levels into edge.
template <int Width>
LUMIVOX_INLINE void upperShare(auto& rows, const BlockSettings& settings, int frameCount,
    const double* lowerShare, double* sums, double* edge)
{
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    constexpr int lower = lowerBandCount(bands);
    if (settings.clearing) {
        std::copy_n(lowerShare, frameCount, sums);
        addRows([&rows](int t) { return rows.levels(t); }, lower, settings.bands, 0, frameCount,
            sums);
    }
    if (!edgeByGroups(settings, bands)) {
        const int span = exchangedSpan(settings, bands);
        for (int t = 0; t < frameCount; ++t)
            copyNeighbours(rows.levels(t) + lower, span, edge + t * span);
    }
}

// Either side, once the other's levels are in: the other side's neighbours into the level rows,
// Vagueness and Instrument Clearance of the side's own bands [firstBand, firstBand + Groups *
// Width) into the smoothed rows, and its carrier bands weighted by them. sums: the whole level
// sums when clearing; neighbours: the other side's levels next to the split, span values a frame
// (exchangedSpan), of which those from band neighbourBand on go in.
template <int Width, int Groups>
LUMIVOX_INLINE void weighSideBands(auto& rows, const BlockSettings& settings, int firstBand,
    int frameCount, const double* sums, const double* neighbours, int neighbourBand)
{
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    const int count = exchangedNeighbours(settings, bands);
    const int span = exchangedSpan(settings, bands);
    double* means = rows.means();
    // The neighbours go in for every frame first: a vector load that takes in a value just stored
    // on its own would wait for the store to retire.
    for (int t = 0; t < frameCount; ++t) {
        copyNeighbours(neighbours + t * span, count, rows.levels(t) + neighbourBand);
        means[t] = settings.clearing ? meanLevel(sums[t], settings) : 0.0;
    }
    for (int t = 0; t < frameCount; ++t) {
        adjustAlongBands<Width, Groups>(rows.levels(t), rows.smoothed(t), firstBand, bands,
            settings, settings.smoothing, settings.clearing, means[t]);
        double* products = rows.carrierBands(t);
        const double* levels = rows.smoothed(t);
        for (int i = firstBand; i < firstBand + Groups * Width; i += Width)
            store<Width>(products + i, load<Width>(products + i) * load<Width>(levels + i));
    }
}

// Lower side, second step: its products summed in band order from 0.0 into lowerOutput.
template <int Width>
LUMIVOX_INLINE void lowerOutput(auto& rows, const BlockSettings& settings, int frameCount,
    const double* sums, const double* upperEdge, double* lowerOutput)
{
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    constexpr int lower = lowerBandCount(bands);
    weighSideBands<Width, lower / Width>(rows, settings, 0, frameCount, sums, upperEdge, lower);
    std::fill_n(lowerOutput, frameCount, 0.0);
    addProductsAcrossFrames<Width>(rows, 0, lower, 0, frameCount, lowerOutput);
}

// Upper side, third step: its carrier bands weighted, ready to be added.
template <int Width>
LUMIVOX_INLINE void upperProducts(auto& rows, const BlockSettings& settings, int frameCount,
    const double* sums, const double* lowerEdge)
{
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    constexpr int lower = lowerBandCount(bands);
    const int count = exchangedNeighbours(settings, bands);
    weighSideBands<Width, (bands - lower) / Width>(rows, settings, lower, frameCount, sums,
        lowerEdge + (exchangedSpan(settings, bands) - count), lower - count);
}

// Upper side, last step, once the lower side's output share is in: its products added to it in
// band order, times the gain.
template <int Width>
LUMIVOX_INLINE void upperOutput(auto& rows, const BlockSettings& settings, int frameCount,
    const double* lowerOutput, double* output)
{
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    std::copy_n(lowerOutput, frameCount, output);
    addProductsAcrossFrames<Width>(rows, lowerBandCount(bands), bands, 0, frameCount, output);
    for (int t = 0; t < frameCount; ++t)
        output[t] = output[t] * settings.outputGain;
}

} // namespace lumivox::engine::kernel
