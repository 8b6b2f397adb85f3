#pragma once

// The steps between the levels the analysis gives and the levels that weight the carrier bands:
// the harmonic bands' blur, Vagueness, then Instrument Clearance, as processSample applies them.
// Each is written once here (the blur in harmonic_blur.h),
// over either layout of the levels in vectors: a frame's neighbouring bands across the lanes, or a
// few frames of one band across the lanes.

#include "kernel_lanes.h"

#include <type_traits>

namespace lumivox::engine::kernel {

// The levels of one frame with Width neighbouring bands in a vector, read from its padded level
// row; each band has its own weights and denominator, so they come as vectors too.
template <int Width> struct BandsAcrossLanes {
    using Vector = Lane<Width>;
    static constexpr int bandsPerVector = Width;

    const double* row;
    const BlockSettings& settings;

    LUMIVOX_INLINE Vector level(int band) const { return load<Width>(row + band); }
    LUMIVOX_INLINE Vector weight(int distance, int band) const
    {
        return load<Width>(settings.weights + distance * settings.stride + band);
    }
    LUMIVOX_INLINE Vector denominator(int band) const
    {
        return load<Width>(settings.denominators + band);
    }
};

// The levels of Frames frames with the frames across the lanes, one vector per band of the padded
// bank, between maxSpread vectors of -0.0 on each side; every lane of a vector is the same band, so
// its weights and denominator are single values.
template <int Frames> struct FramesAcrossLanes {
    using Vector = Lane<Frames>;
    static constexpr int bandsPerVector = 1;

    const BlockSettings& settings;
    Vector padded[maxSpread + mostBands + maxSpread];

    LUMIVOX_INLINE FramesAcrossLanes(const BlockSettings& blockSettings, int paddedBands)
        : settings(blockSettings)
    {
        const Vector negativeZero = broadcast<Frames>(-0.0);
        for (int k = 0; k < maxSpread; ++k) {
            padded[k] = negativeZero;
            padded[maxSpread + paddedBands + k] = negativeZero;
        }
    }

    LUMIVOX_INLINE Vector& band(int i) { return padded[maxSpread + i]; }
    LUMIVOX_INLINE Vector level(int band) const { return padded[maxSpread + band]; }
    LUMIVOX_INLINE double weight(int distance, int band) const
    {
        return settings.weights[distance * settings.stride + band];
    }
    LUMIVOX_INLINE double denominator(int band) const { return settings.denominators[band]; }
};

// Vagueness for Count vectors of levels from firstBand: each band's weighted mean of itself and its
// neighbours, its numerator built upward first and then downward, exactly as processSample builds
// it. A neighbour outside the padded bank is -0.0 in either layout (and so is the padding past the
// layout's bands, see silencePadding), and adding its weighted -0.0 leaves a numerator as it was:
// the steps in which every band's neighbour lies outside are left out. A weight of exactly 1
// leaves a term's bits as they are, so with weightsAllOne the multiplies are left out. All vectors
// move together, so each step has a chain of additions per vector in flight.
template <int Count, typename Levels>
LUMIVOX_INLINE void applyVagueness(const Levels& levels, const BlockSettings& settings,
    int paddedBands, int firstBand, typename Levels::Vector* smoothed)
{
    constexpr int step = Levels::bandsPerVector;
    const int lastBand = firstBand + Count * step - 1;
    const int up = std::min(settings.reach, paddedBands - 1 - firstBand);
    const int down = std::min(settings.reach, lastBand);
    for (int g = 0; g < Count; ++g)
        smoothed[g] = levels.level(firstBand + g * step);
    if (settings.weightsAllOne) {
        for (int k = 1; k <= up; ++k) {
            for (int g = 0; g < Count; ++g)
                smoothed[g] = smoothed[g] + levels.level(firstBand + g * step + k);
        }
        for (int k = 1; k <= down; ++k) {
            for (int g = 0; g < Count; ++g)
                smoothed[g] = smoothed[g] + levels.level(firstBand + g * step - k);
        }
    } else {
        for (int k = 1; k <= up; ++k) {
            for (int g = 0; g < Count; ++g) {
                const int band = firstBand + g * step;
                smoothed[g] = smoothed[g] + levels.weight(k, band) * levels.level(band + k);
            }
        }
        for (int k = 1; k <= down; ++k) {
            for (int g = 0; g < Count; ++g) {
                const int band = firstBand + g * step;
                smoothed[g] = smoothed[g] + levels.weight(k, band) * levels.level(band - k);
            }
        }
    }
    for (int g = 0; g < Count; ++g)
        smoothed[g] = smoothed[g] / levels.denominator(firstBand + g * step);
}

// The mean of a frame's (or a few frames') unsmoothed levels from their sum in band order from 0.0,
// as Instrument Clearance pulls toward it.
template <typename Sum> LUMIVOX_INLINE Sum meanLevel(Sum levelSum, const BlockSettings& settings)
{
    return levelSum / static_cast<double>(settings.bands);
}

// Instrument Clearance: every level pulled toward the mean of the frame's unsmoothed levels, one
// mean for all lanes (Pull a double) or one per lane (Pull a vector).
template <typename Pull> struct Clearance {
    Pull pull;
    double keep;

    LUMIVOX_INLINE Clearance(const BlockSettings& settings, Pull mean)
        : pull(settings.clearance * mean)
        , keep(1.0 - settings.clearance)
    {
    }

    template <typename Vector> LUMIVOX_INLINE Vector operator()(Vector level) const
    {
        return pull + keep * level;
    }
};

// Vagueness (when smooth) and Instrument Clearance (when clear) for the Groups groups of Width
// bands from firstBand of one frame: from row, a padded level row or any row of levels with
// Vagueness left out, into adjusted. mean is the mean of the frame's unsmoothed levels.
template <int Width, int Groups>
LUMIVOX_INLINE void adjustAlongBands(const double* row, double* adjusted, int firstBand,
    int paddedBands, const BlockSettings& settings, bool smooth, bool clear, double mean)
{
    using V = Lane<Width>;
    V level[Groups];
    if (smooth) {
        applyVagueness<Groups>(
            BandsAcrossLanes<Width> { row, settings }, settings, paddedBands, firstBand, level);
    } else {
        for (int g = 0; g < Groups; ++g)
            level[g] = load<Width>(row + firstBand + g * Width);
    }
    if (clear) {
        const Clearance<double> clearance(settings, mean);
        for (int g = 0; g < Groups; ++g)
            level[g] = clearance(level[g]);
    }
    for (int g = 0; g < Groups; ++g)
        store<Width>(adjusted + firstBand + g * Width, level[g]);
}

// The means of the layout's levels of frames [first, end) in means, which Instrument Clearance
// needs.
LUMIVOX_INLINE void meanLevels(
    auto& rows, const BlockSettings& settings, int first, int end, double* means)
{
    sumRows([&rows](int t) { return rows.levels(t); }, settings.bands, first, end, means);
    for (int t = first; t < end; ++t)
        means[t] = meanLevel(means[t], settings);
}

// The harmonic bands' blur of Groups times Frames frames from frame t in place in their level
// rows, with the frames across the lanes, so that each step along the bands is one operation on a
// vector; the squares of Frames bands and frames are transposed in and out.
template <int Frames, int Groups>
LUMIVOX_INLINE void blurFramesAcrossLanes(auto& rows, const HarmonicBlur& blur, int t)
{
    using V = Lane<Frames>;
    // Every square of the padded rows in, those of the blurred bands out.
    constexpr int squaresIn = std::remove_cvref_t<decltype(rows)>::bands() / Frames;
    const int squaresOut = (blur.bands + Frames - 1) / Frames;
    V levels[Groups][squaresIn * Frames];
    V work[Groups * HarmonicBlur::workValues(squaresIn * Frames)];
    for (int g = 0; g < Groups; ++g) {
        for (int square = 0; square < squaresIn; ++square) {
            V* lines = levels[g] + square * Frames;
            for (int f = 0; f < Frames; ++f)
                lines[f] = load<Frames>(rows.levels(t + g * Frames + f) + square * Frames);
            transpose<Frames>(lines);
        }
    }
    blurAlongBands<Groups, V>(
        blur, [&levels](int g, int i) -> V& { return levels[g][i]; }, work);
    // Bands past the blurred ones keep their levels in the last square.
    for (int g = 0; g < Groups; ++g) {
        for (int square = 0; square < squaresOut; ++square) {
            V* lines = levels[g] + square * Frames;
            transpose<Frames>(lines);
            for (int f = 0; f < Frames; ++f)
                store<Frames>(rows.levels(t + g * Frames + f) + square * Frames, lines[f]);
        }
    }
}

// The harmonic bands' blur of frames [first, end) in place in their level rows: four squares of
// frames at a time, so that four chains of operations are in flight, then one, then the frames
// left over one at a time through the same function.
template <int Frames>
LUMIVOX_INLINE void blurHarmonicBands(auto& rows, const BlockSettings& settings, int first, int end)
{
    const HarmonicBlur& blur = *settings.blur;
    constexpr int together = 4;
    int t = first;
    for (; t + together * Frames <= end; t += together * Frames)
        blurFramesAcrossLanes<Frames, together>(rows, blur, t);
    for (; t + Frames <= end; t += Frames)
        blurFramesAcrossLanes<Frames, 1>(rows, blur, t);
    for (; t < end; ++t) {
        double* row = rows.levels(t);
        double work[HarmonicBlur::workValues(mostBands)];
        blurAlongBands<1, double>(
            blur, [row](int, int i) -> double& { return row[i]; }, work);
    }
}

// Sets the padding's levels of frames [first, end) to -0.0, as outside the bank, so that a band
// that reaches into them in the smoothing step adds nothing to its sum.
LUMIVOX_INLINE void silencePadding(auto& rows, const BlockSettings& settings, int first, int end)
{
    if (settings.bands == rows.bands())
        return;
    for (int t = first; t < end; ++t)
        std::fill(rows.levels(t) + settings.bands, rows.levels(t) + rows.bands(), -0.0);
}

} // namespace lumivox::engine::kernel
