#pragma once

// The two sides of the engine for a run split between two threads, which hand each other 32 or 48
// values per frame. The modulator side runs the modulator band-passes, the first sections of the
// envelopes, the harmonic bands' blur and Vagueness for the upper bands; the carrier side runs the
// rest of the envelopes, Vagueness for the lower bands, Instrument Clearance, and the carrier
// band-passes weighted by the levels and summed. Where the envelopes are cut balances the two as
// measured: the modulator side runs them whole with Vagueness (which is most of the carrier side's
// work then), with the blur (which needs whole levels) and on eight lanes; otherwise the carrier
// side runs their last section. Each side works on two neighbouring groups of bands at once, so
// that two independent chains are in flight, as the carrier and the modulator of one group are on
// one thread.

#include "kernel_levelling.h"
#include "kernel_synthesis.h"

#include <type_traits>

namespace lumivox::engine::kernel {

// The bands each half of a run split by bands takes; with the modulator side, Vagueness for these
// lower bands stays on the carrier side and the modulator side smooths the others.
constexpr int lowerBandCount(int bands) { return bands / 2; }
// Values per frame the modulator side hands over: the levels, or the envelopes as far as it ran
// them, then with Vagueness the upper bands' smoothed levels.
constexpr int handOverStride(int bands) { return bands + (bands - lowerBandCount(bands)); }
static_assert(handOverStride(mostBands) == mostBands + mostBands / 2);

// Whether the two sides split the bands between them: only when no band's level depends on
// another's, and without Clarity's steps for a designed layout.
constexpr bool splitsBands(const BlockSettings& settings)
{
    return !settings.blurring && !settings.smoothing && !settings.clearing && !settings.levelling
        && !settings.aligning;
}

// The envelope sections the modulator side runs, on Width lanes: all of them when it works on
// the levels (the harmonic bands' blur, Vagueness).
constexpr int envelopeSectionsOnModulatorSide(const BlockSettings& settings, int width)
{
    return settings.blurring || settings.smoothing || width >= 8 ? envelopeSectionCount : 1;
}

// The first band-pass sections of one cascade for the groups at firstBand and firstBand + Width
// over frames [0, frameCount), through the input gain, staged in the row rowOf(t) of each frame.
// lowAt(t) and highAt(t) give the input as each group's lanes take it in frame t.
template <int Width, typename RowOf, typename LowAt, typename HighAt>
LUMIVOX_INLINE void firstSectionsOfGroupPair(BandLanes::Cascades bands, int firstBand,
    const LowAt& lowAt, const HighAt& highAt, int frameCount, RowOf rowOf)
{
    using V = Lane<Width>;
    const int secondBand = firstBand + Width;
    const V gainLow = load<Width>(&bands.half(firstBand).gain[laneInHalf(firstBand)]);
    const V gainHigh = load<Width>(&bands.half(secondBand).gain[laneInHalf(secondBand)]);
    GroupPair<Width, 0, firstPassSections> pair;
    pair.load(bands, firstBand);
    for (int t = 0; t < frameCount; ++t) {
        V low = gainLow * lowAt(t);
        V high = gainHigh * highAt(t);
        pair.run(bands, firstBand, low, high);
        store<Width>(rowOf(t) + firstBand, low);
        store<Width>(rowOf(t) + secondBand, high);
    }
    pair.store(bands, firstBand);
}

// The modulator side of two groups over frames [0, frameCount): the first band-pass sections
// staged in the level rows, then the remaining sections and EnvelopeSections envelope sections,
// into the level rows when ToRows, otherwise into handOver (handOverStride values per frame; the
// levels when the envelopes are whole).
template <int Width, int EnvelopeSections, bool ToRows>
LUMIVOX_INLINE void modulatorGroupPair(BandLanes& lanes, auto& rows, int firstBand,
    const double* modulator, int frameCount, double* handOver)
{
    using V = Lane<Width>;
    const BandLanes::Cascades& bands = lanes.modulator();
    const int secondBand = firstBand + Width;
    const auto toLevelRows = [&](int t) { return rows.levels(t); };
    if (lanes.modulatorDelays == nullptr) {
        const SameInput same { modulator };
        firstSectionsOfGroupPair<Width>(
            lanes.modulator(), firstBand, same, same, frameCount, toLevelRows);
    } else {
        firstSectionsOfGroupPair<Width>(lanes.modulator(), firstBand,
            DelayedInput<Width>(modulator, lanes.modulatorDelays, firstBand),
            DelayedInput<Width>(modulator, lanes.modulatorDelays, secondBand), frameCount,
            toLevelRows);
    }
    {
        constexpr int rest = bandSectionCount - firstPassSections;
        GroupPair<Width, firstPassSections, rest> pair;
        SectionStates<Width, 0, EnvelopeSections> envelopeLow;
        SectionStates<Width, 0, EnvelopeSections> envelopeHigh;
        pair.load(bands, firstBand);
        envelopeLow.load(lanes.envelope(), firstBand);
        envelopeHigh.load(lanes.envelope(), secondBand);
        for (int t = 0; t < frameCount; ++t) {
            V low = load<Width>(rows.levels(t) + firstBand);
            V high = load<Width>(rows.levels(t) + secondBand);
            pair.run(bands, firstBand, low, high);
            low = envelopeSections<Width>(low, envelopeLow, lanes.envelope(), firstBand);
            high = envelopeSections<Width>(high, envelopeHigh, lanes.envelope(), secondBand);
            if constexpr (EnvelopeSections == envelopeSectionCount) {
                low = low * levelScale;
                high = high * levelScale;
            }
            double* row = ToRows ? rows.levels(t) : handOver + t * handOverStride(rows.bands());
            store<Width>(row + firstBand, low);
            store<Width>(row + secondBand, high);
        }
        pair.store(lanes.modulator(), firstBand);
        envelopeLow.store(lanes.envelope(), firstBand);
        envelopeHigh.store(lanes.envelope(), secondBand);
    }
}

// The modulator side of frames [0, frameCount), at most the rows' capacity.
template <int Width>
LUMIVOX_INLINE void modulatorSide(BandLanes& lanes, auto& rows, const BlockSettings& settings,
    const double* modulator, int frameCount, double* handOver)
{
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    if (!settings.blurring && !settings.smoothing) {
        for (int first = 0; first < bands; first += 2 * Width) {
            if (envelopeSectionsOnModulatorSide(settings, Width) == envelopeSectionCount)
                modulatorGroupPair<Width, envelopeSectionCount, false>(
                    lanes, rows, first, modulator, frameCount, handOver);
            else
                modulatorGroupPair<Width, 1, false>(
                    lanes, rows, first, modulator, frameCount, handOver);
        }
        return;
    }
    // The levels in the padded rows, so that the blur and Vagueness can reach past the bank.
    for (int first = 0; first < bands; first += 2 * Width)
        modulatorGroupPair<Width, envelopeSectionCount, true>(
            lanes, rows, first, modulator, frameCount, handOver);
    if (settings.blurring)
        blurHarmonicBands<Width>(rows, settings, 0, frameCount);
    if (settings.smoothing)
        silencePadding(rows, settings, 0, frameCount);
    constexpr int lower = lowerBandCount(bands);
    for (int t = 0; t < frameCount; ++t) {
        double* row = handOver + t * handOverStride(bands);
        std::copy_n(rows.levels(t), bands, row);
        if (settings.smoothing)
            adjustAlongBands<Width, (bands - lower) / Width>(
                rows.levels(t), row + bands - lower, lower, bands, settings, true, false, 0.0);
    }
}

// The levels of frames [0, frameCount) in the level rows, from what the modulator side handed
// over: the rest of the envelopes, or the levels as they are.
template <int Width, int EnvelopeSectionsDone>
LUMIVOX_INLINE void levelsFromHandOver(
    BandLanes& lanes, auto& rows, const double* handOver, int frameCount)
{
    const int bands = rows.bands();
    if constexpr (EnvelopeSectionsDone == envelopeSectionCount) {
        for (int t = 0; t < frameCount; ++t)
            std::copy_n(handOver + t * handOverStride(bands), bands, rows.levels(t));
    } else {
        constexpr int rest = envelopeSectionCount - EnvelopeSectionsDone;
        for (int firstBand = 0; firstBand < bands; firstBand += 2 * Width) {
            const int secondBand = firstBand + Width;
            SectionStates<Width, EnvelopeSectionsDone, rest> low;
            SectionStates<Width, EnvelopeSectionsDone, rest> high;
            low.load(lanes.envelope(), firstBand);
            high.load(lanes.envelope(), secondBand);
            for (int t = 0; t < frameCount; ++t) {
                const double* row = handOver + t * handOverStride(bands);
                const Lane<Width> e0 = envelopeSections<Width>(
                    load<Width>(row + firstBand), low, lanes.envelope(), firstBand);
                const Lane<Width> e1 = envelopeSections<Width>(
                    load<Width>(row + secondBand), high, lanes.envelope(), secondBand);
                store<Width>(rows.levels(t) + firstBand, e0 * levelScale);
                store<Width>(rows.levels(t) + secondBand, e1 * levelScale);
            }
            low.store(lanes.envelope(), firstBand);
            high.store(lanes.envelope(), secondBand);
        }
    }
}

// Vagueness and Instrument Clearance for frames [0, frameCount), as processSample applies them:
// from the level rows into the smoothed rows. The modulator side has smoothed the upper bands and
// handed their levels over.
template <int Width>
LUMIVOX_INLINE void adjustLevels(
    auto& rows, const BlockSettings& settings, const double* handOver, int frameCount)
{
    constexpr int bands = std::remove_cvref_t<decltype(rows)>::bands();
    constexpr int lower = lowerBandCount(bands);
    double* means = rows.means();
    if (settings.clearing)
        meanLevels(rows, settings, 0, frameCount, means);
    for (int t = 0; t < frameCount; ++t) {
        double* used = rows.smoothed(t);
        if (settings.smoothing) {
            adjustAlongBands<Width, lower / Width>(
                rows.levels(t), used, 0, bands, settings, true, settings.clearing, means[t]);
            adjustAlongBands<Width, (bands - lower) / Width>(
                handOver + t * handOverStride(bands) + bands - lower, used, lower, bands, settings,
                false, settings.clearing, means[t]);
        } else {
            adjustAlongBands<Width, bands / Width>(
                rows.levels(t), used, 0, bands, settings, false, true, means[t]);
        }
    }
}

// The carrier band products of two groups over frames [0, frameCount) in the carrier rows, each
// band weighted by its level in levelsOf(t); with Levelling, the carrier bands levelled first.
template <int Width, bool Levelling, typename RowOf>
LUMIVOX_INLINE void carrierGroupPair(BandLanes& lanes, auto& rows, int firstBand,
    const double* carrier, RowOf levelsOf, int frameCount, CarrierLevelling* levelling)
{
    using V = Lane<Width>;
    const BandLanes::Cascades& bands = lanes.carrier();
    const int secondBand = firstBand + Width;
    const SameInput same { carrier };
    firstSectionsOfGroupPair<Width>(lanes.carrier(), firstBand, same, same, frameCount,
        [&](int t) { return rows.carrierBands(t); });
    {
        constexpr int rest = bandSectionCount - firstPassSections;
        GroupPair<Width, firstPassSections, rest> pair;
        LevellingStates<Width> levelLow, levelHigh;
        pair.load(bands, firstBand);
        if constexpr (Levelling) {
            levelLow.load(*levelling, firstBand);
            levelHigh.load(*levelling, secondBand);
        }
        for (int t = 0; t < frameCount; ++t) {
            V low = load<Width>(rows.carrierBands(t) + firstBand);
            V high = load<Width>(rows.carrierBands(t) + secondBand);
            pair.run(bands, firstBand, low, high);
            if constexpr (Levelling) {
                low = levelLow.step(low, *levelling);
                high = levelHigh.step(high, *levelling);
            }
            const double* level = levelsOf(t);
            store<Width>(rows.carrierBands(t) + firstBand, low * load<Width>(level + firstBand));
            store<Width>(rows.carrierBands(t) + secondBand, high * load<Width>(level + secondBand));
        }
        pair.store(lanes.carrier(), firstBand);
        if constexpr (Levelling) {
            levelLow.store(*levelling, firstBand);
            levelHigh.store(*levelling, secondBand);
        }
    }
}

// The carrier band products of every group, weighted by the adjusted levels or the levels as
// they are.
template <int Width, bool Levelling>
LUMIVOX_INLINE void weighCarrierBands(BandLanes& lanes, auto& rows, const double* carrier,
    bool adjusted, int frameCount, const BlockSettings& settings)
{
    for (int first = 0; first < rows.bands(); first += 2 * Width) {
        if (adjusted)
            carrierGroupPair<Width, Levelling>(
                lanes, rows, first, carrier, [&rows](int t) { return rows.smoothed(t); },
                frameCount, settings.levelling);
        else
            carrierGroupPair<Width, Levelling>(
                lanes, rows, first, carrier, [&rows](int t) { return rows.levels(t); }, frameCount,
                settings.levelling);
    }
}

// The carrier side of frames [0, frameCount), at most the rows' capacity: the levels, the band
// products summed in band order from 0.0, times the gain. The levels the last frame used are left
// where usedLevels finds them.
template <int Width>
LUMIVOX_INLINE void carrierSide(BandLanes& lanes, auto& rows, const BlockSettings& settings,
    const double* carrier, const double* handOver, int frameCount, double* output)
{
    if (envelopeSectionsOnModulatorSide(settings, Width) == envelopeSectionCount)
        levelsFromHandOver<Width, envelopeSectionCount>(lanes, rows, handOver, frameCount);
    else
        levelsFromHandOver<Width, 1>(lanes, rows, handOver, frameCount);
    const bool adjusted = settings.smoothing || settings.clearing;
    if (adjusted)
        adjustLevels<Width>(rows, settings, handOver, frameCount);
    const int bands = rows.bands();
    if (settings.levelling)
        weighCarrierBands<Width, true>(lanes, rows, carrier, adjusted, frameCount, settings);
    else
        weighCarrierBands<Width, false>(lanes, rows, carrier, adjusted, frameCount, settings);
    std::fill_n(output, frameCount, 0.0);
    addProductsAcrossFrames<Width>(rows, 0, bands, 0, frameCount, output);
    for (int t = 0; t < frameCount; ++t)
        output[t] = output[t] * settings.outputGain;
}

// Without Vagueness and Instrument Clearance no band's level depends on another's, and the two
// threads split the bands instead: the first takes the lower half, summing their products in band
// order from 0.0 into each frame's partial sum, and the second adds the upper half's products to
// it, in band order, and applies the gain. They hand each other one value per frame.

// The lower bands of frames [0, frameCount), at most the rows' capacity, summed into sums.
template <int Width>
LUMIVOX_INLINE void lowerBands(BandLanes& lanes, auto& rows, const double* carrier,
    const double* modulator, int frameCount, double* sums)
{
    std::fill_n(sums, frameCount, 0.0);
    LUMIVOX_WITH_PADDED_BANDS(rows.bands(),
        (analyseBands<Width>(lanes, rows, 0, lowerBandCount(Bands), carrier, modulator, frameCount,
            AddProducts<Width> { sums })));
}

// The upper bands of the same frames, added to the lower bands' sums, times the gain.
template <int Width>
LUMIVOX_INLINE void upperBands(BandLanes& lanes, auto& rows, const double* carrier,
    const double* modulator, int frameCount, const double* lowerSums, double outputGain,
    double* output)
{
    std::copy_n(lowerSums, frameCount, output);
    LUMIVOX_WITH_PADDED_BANDS(rows.bands(),
        (analyseBands<Width>(lanes, rows, lowerBandCount(Bands), Bands, carrier, modulator,
            frameCount, AddProducts<Width> { output })));
    for (int t = 0; t < frameCount; ++t)
        output[t] = output[t] * outputGain;
}

} // namespace lumivox::engine::kernel
