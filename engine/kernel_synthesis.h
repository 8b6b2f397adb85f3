#pragma once

// The synthesis stage on one thread: each frame's levels adjusted by Vagueness and Instrument
// Clearance, the carrier bands weighted by them, summed in band order from 0.0, times the gain.
// Its bands depend on each other but its frames do not. Without Vagueness and Instrument
// Clearance no band's level depends on another's, and the products are made as the analysis
// leaves each group's levels, which saves storing the rows.

#include "kernel_analysis.h"
#include "kernel_levels.h"

#include <type_traits>

namespace lumivox::engine::kernel {

// What the analysis leaves without Vagueness and Instrument Clearance: the band products in the
// carrier rows.
template <int Width, typename Rows> struct KeepProducts {
    const Rows& rows;

    LUMIVOX_INLINE void operator()(
        int t, int firstBand, Lane<Width> carrierBands, Lane<Width> levels) const
    {
        store<Width>(rows.carrierBands(t) + firstBand, carrierBands * levels);
    }
};

// Or no row at all: the products added, in band order, to each frame's sum.
template <int Width> struct AddProducts {
    double* sums;

    LUMIVOX_INLINE void operator()(int t, int, Lane<Width> carrierBands, Lane<Width> levels) const
    {
        const Lane<Width> product = carrierBands * levels;
        double sum = sums[t];
        for (int j = 0; j < Width; ++j)
            sum = sum + product[j];
        sums[t] = sum;
    }
};

// Adds the band products [firstBand, endBand) the rows hold to the sums of the frames
// [first, end), in band order. With four lanes (AVX2) four frames go across the lanes: each square
// of four frames and four bands is transposed, so that its bands go into the sums as whole
// vectors, one vector addition per band and four frames instead of a scalar one per band and
// frame. With two lanes that gains nothing, and eight (AVX-512) would need more registers.
template <int Width>
LUMIVOX_INLINE void addProductsAcrossFrames(
    auto& rows, int firstBand, int endBand, int first, int end, double* sums)
{
    int t = first;
    if constexpr (Width == 4) {
        using V = Lane<Width>;
        for (; t + Width <= end; t += Width) {
            V sum = load<Width>(sums + t);
            for (int band = firstBand; band < endBand; band += Width) {
                V products[Width];
                for (int f = 0; f < Width; ++f)
                    products[f] = load<Width>(rows.carrierBands(t + f) + band);
                transpose<Width>(products);
                for (int j = 0; j < Width; ++j)
                    sum = sum + products[j];
            }
            store<Width>(sums + t, sum);
        }
    }
    addRows(
        [&rows](int frame) { return rows.carrierBands(frame); }, firstBand, endBand, t, end, sums);
}

// Analysis of the bands [0, endBand) for blocks without Vagueness and Instrument Clearance: their
// products summed into sums in band order from 0.0. AcrossFrames: the groups leave their products
// in the rows, which are then summed with frames across the lanes (four lanes only); otherwise
// each group adds its products to the sums as it goes, which saves storing them.
template <int Width, bool AcrossFrames>
LUMIVOX_INLINE void analyseIntoSums(BandLanes& lanes, auto& rows, int endBand,
    const double* carrier, const double* modulator, int frameCount, double* sums)
{
    static_assert(!AcrossFrames || Width == 4, "frames go across four lanes");
    std::fill_n(sums, frameCount, 0.0);
    if constexpr (AcrossFrames) {
        const KeepProducts<Width, std::remove_cvref_t<decltype(rows)>> keep { rows };
        analyseBands<Width>(lanes, rows, 0, endBand, carrier, modulator, frameCount, keep);
        addProductsAcrossFrames<Width>(rows, 0, endBand, 0, frameCount, sums);
    } else {
        analyseBands<Width>(
            lanes, rows, 0, endBand, carrier, modulator, frameCount, AddProducts<Width> { sums });
    }
}

// Analysis and synthesis of all bands in one, for blocks without Vagueness and Instrument
// Clearance: the band products summed in band order from 0.0, then scaled by the gain.
template <int Width>
LUMIVOX_INLINE void analyseAndFinish(BandLanes& lanes, auto& rows, const double* carrier,
    const double* modulator, int frameCount, double outputGain, double* output)
{
    // Only the groups that hold the bank's own bands: the silent ones would add exact zeros to
    // sums that start from +0.0, which leaves every sum's bits as they are.
    analyseIntoSums<Width, Width == 4>(
        lanes, rows, rows.template liveLanes<Width>(), carrier, modulator, frameCount, output);
    for (int t = 0; t < frameCount; ++t)
        output[t] = output[t] * outputGain;
}

// Synthesis of Frames frames from frame t with the frames across the lanes: every sum is then a
// sum of whole vectors, formed in the order processSample forms it for each frame. Eight bands go
// together, so that eight chains of additions are in flight. When asked, the levels the last of
// the frames used are written to its smoothed row.
template <int Frames>
LUMIVOX_INLINE void finishAcrossFrames(auto& rows, const BlockSettings& settings, int t,
    double* output, FramesAcrossLanes<Frames>& levels, bool keepLastLevels)
{
    using V = Lane<Frames>;
    const int bands = rows.bands();
    for (int i = 0; i < bands; i += Frames) {
        V square[Frames];
        for (int f = 0; f < Frames; ++f)
            square[f] = load<Frames>(rows.levels(t + f) + i);
        transpose<Frames>(square);
        for (int j = 0; j < Frames; ++j)
            levels.band(i + j) = square[j];
    }

    V sum {};
    if (settings.clearing) {
        for (int i = 0; i < settings.bands; ++i)
            sum = sum + levels.level(i);
    }
    const Clearance<V> clearance(settings, meanLevel(sum, settings));

    constexpr int together = 8;
    V total {};
    for (int first = 0; first < bands; first += together) {
        V level[together];
        if (settings.smoothing) {
            applyVagueness<together>(levels, settings, bands, first, level);
        } else {
            for (int j = 0; j < together; ++j)
                level[j] = levels.level(first + j);
        }
        if (settings.clearing) {
            for (int j = 0; j < together; ++j)
                level[j] = clearance(level[j]);
        }
        if (keepLastLevels) {
            for (int j = 0; j < together; ++j)
                rows.smoothed(t + Frames - 1)[first + j] = level[j][Frames - 1];
        }
        for (int i = first; i < first + together; i += Frames) {
            V carrierBands[Frames];
            for (int f = 0; f < Frames; ++f)
                carrierBands[f] = load<Frames>(rows.carrierBands(t + f) + i);
            transpose<Frames>(carrierBands);
            for (int j = 0; j < Frames; ++j)
                total = total + carrierBands[j] * level[i - first + j];
        }
    }
    store<Frames>(output + t, total * settings.outputGain);
}

// Synthesis of the frames [first, end) with the bands across the lanes: Vagueness and Instrument
// Clearance into the smoothed rows, the band products, and their sums times the gain, eight
// frames' sums at a time.
template <int Width>
LUMIVOX_INLINE void finishAlongBands(
    auto& rows, const BlockSettings& settings, int first, int end, double* output)
{
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    double* means = rows.means();
    // The mean only matters to Instrument Clearance.
    if (settings.clearing)
        meanLevels(rows, settings, first, end, means);

    for (int t = first; t < end; ++t) {
        const double* row = rows.levels(t);
        if (settings.smoothing || settings.clearing) {
            adjustAlongBands<Width, bands / Width>(row, rows.smoothed(t), 0, bands, settings,
                settings.smoothing, settings.clearing, means[t]);
            row = rows.smoothed(t);
        }
        double* products = rows.carrierBands(t);
        for (int i = 0; i < bands; i += Width)
            store<Width>(products + i, load<Width>(products + i) * load<Width>(row + i));
    }

    std::fill(output + first, output + end, 0.0);
    addProductsAcrossFrames<Width>(rows, 0, bands, first, end, output);
    for (int t = first; t < end; ++t)
        output[t] = output[t] * settings.outputGain;
}

// Synthesis of Groups times Frames frames from frame t with the harmonic bands' blur alone (no
// Vagueness, no Instrument Clearance), the frames across the lanes from the level rows to the
// output: the levels of each frame are blurred and weight its carrier bands, and the products are
// summed in band order from 0.0, as finishAlongBands sums them, with no row stored between the
// steps. When asked, the blurred levels go back to their rows.
template <int Frames, int Groups>
LUMIVOX_INLINE void blurAndFinishAcrossFrames(
    auto& rows, const BlockSettings& settings, int t, double* output, bool keepLevels)
{
    using V = Lane<Frames>;
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    const HarmonicBlur& blur = *settings.blur;
    V levels[Groups][bands];
    V work[Groups * HarmonicBlur::workValues(bands)];
    const auto frame = [t](int g, int f) { return t + g * Frames + f; };
    for (int g = 0; g < Groups; ++g) {
        for (int i = 0; i < bands; i += Frames) {
            for (int f = 0; f < Frames; ++f)
                levels[g][i + f] = load<Frames>(rows.levels(frame(g, f)) + i);
            transpose<Frames>(levels[g] + i);
        }
    }
    blurAlongBands<Groups, V>(
        blur, [&levels](int g, int i) -> V& { return levels[g][i]; }, work);
    V total[Groups];
    for (int g = 0; g < Groups; ++g)
        total[g] = V {};
    for (int i = 0; i < bands; i += Frames) {
        for (int g = 0; g < Groups; ++g) {
            V carrierBands[Frames];
            for (int f = 0; f < Frames; ++f)
                carrierBands[f] = load<Frames>(rows.carrierBands(frame(g, f)) + i);
            transpose<Frames>(carrierBands);
            for (int j = 0; j < Frames; ++j)
                total[g] = total[g] + carrierBands[j] * levels[g][i + j];
        }
    }
    for (int g = 0; g < Groups; ++g)
        store<Frames>(output + frame(g, 0), total[g] * settings.outputGain);
    if (keepLevels) {
        for (int g = 0; g < Groups; ++g) {
            for (int i = 0; i < blur.bands; i += Frames) {
                transpose<Frames>(levels[g] + i);
                for (int f = 0; f < Frames; ++f)
                    store<Frames>(rows.levels(frame(g, f)) + i, levels[g][i + f]);
            }
        }
    }
}

// Synthesis of the frames [first, end) with the harmonic bands' blur alone: two squares of frames
// at a time, so that two chains are in flight in every step, then one, then the frames left over
// along the bands. The blurred levels of the last frame are left in its level row.
template <int Width>
LUMIVOX_INLINE void blurAndFinish(
    auto& rows, const BlockSettings& settings, int first, int end, double* output)
{
    constexpr int together = 2;
    int t = first;
    for (; t + together * Width <= end; t += together * Width)
        blurAndFinishAcrossFrames<Width, together>(
            rows, settings, t, output, t + together * Width == end);
    for (; t + Width <= end; t += Width)
        blurAndFinishAcrossFrames<Width, 1>(rows, settings, t, output, t + Width == end);
    blurHarmonicBands<Width>(rows, settings, t, end);
    finishAlongBands<Width>(rows, settings, t, end, output);
}

// Synthesis of the frames [first, end) the analysis left in the rows, after the harmonic bands'
// blur in place when it is on. The levels the last frame used are left in its smoothed row when
// Vagueness or Instrument Clearance changed them, and in its level row when neither did.
template <int Width>
LUMIVOX_INLINE void finish(
    auto& rows, const BlockSettings& settings, int first, int end, double* output)
{
    if (settings.blurring && !settings.smoothing && !settings.clearing) {
        blurAndFinish<Width>(rows, settings, first, end, output);
        return;
    }
    if (settings.blurring)
        blurHarmonicBands<Width>(rows, settings, first, end);
    if (settings.smoothing)
        silencePadding(rows, settings, first, end);
    int t = first;
    // At full Vagueness every band adds 14 neighbours on each side, which is most of the work;
    // there the frames go across the lanes (four at most, which AVX-512 runs with its AVX2
    // half), so that the loads are whole vectors and the sums need no scalar additions. Where
    // fewer neighbours count, that costs more than it saves.
    if (settings.smoothing && settings.weightsAllOne) {
        constexpr int frames = Width < 4 ? Width : 4;
        FramesAcrossLanes<frames> levels(settings, rows.bands());
        for (; t + frames <= end; t += frames)
            finishAcrossFrames<frames>(rows, settings, t, output, levels, t + frames == end);
    }
    finishAlongBands<Width>(rows, settings, t, end, output);
}

} // namespace lumivox::engine::kernel
