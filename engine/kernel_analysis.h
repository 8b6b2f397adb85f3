#pragma once

// The analysis stage on one thread: the modulator's band-passes, the envelopes and the level of
// every band for every frame, with the carrier's band-passes run beside them so that two
// independent chains are in flight. Its frames depend on each other but its bands do not, so it
// runs a group of bands over all frames at a time, keeping the group's filter states in registers.

#include "kernel_sections.h"

namespace lumivox::engine::kernel {

// What the analysis leaves of each frame's carrier bands when nothing is done with them yet: the
// carrier bands in their rows, for the synthesis stage to weight by the adjusted levels.
template <int Width, typename Rows> struct KeepCarrierBands {
    const Rows& rows;

    LUMIVOX_INLINE void operator()(
        int t, int firstBand, Lane<Width> carrierBands, Lane<Width>) const
    {
        store<Width>(rows.carrierBands(t) + firstBand, carrierBands);
    }
};

// The first band-pass sections of both cascades of one group, staged in the level and carrier
// rows; modulatorAt(t) gives the modulator as the group's lanes take it in frame t.
template <int Width, typename ModulatorAt>
LUMIVOX_INLINE void firstSectionsOfGroup(BandLanes& lanes, auto& rows, int firstBand,
    const double* carrier, const ModulatorAt& modulatorAt, int frameCount)
{
    using V = Lane<Width>;
    const BandLanes::Cascades& coefficients = lanes.modulator();
    const V gain = load<Width>(&coefficients.half(firstBand).gain[laneInHalf(firstBand)]);
    BandPair<Width, 0, firstPassSections> pair;
    pair.load(lanes, firstBand);
    for (int t = 0; t < frameCount; ++t) {
        V m = gain * modulatorAt(t);
        V c = gain * carrier[t];
        pair.run(coefficients, firstBand, m, c);
        store<Width>(rows.levels(t) + firstBand, m);
        store<Width>(rows.carrierBands(t) + firstBand, c);
    }
    pair.store(lanes, firstBand);
}

// Analysis of one group: the first band-pass sections of both cascades, staged in the level and
// carrier rows; then the remaining sections, the envelope and the level, which goes to the level
// row. leave(t, firstBand, carrierBands, levels) takes the group's carrier bands and levels of
// frame t.
template <int Width, typename Leave>
LUMIVOX_INLINE void analyseGroup(BandLanes& lanes, auto& rows, int firstBand, const double* carrier,
    const double* modulator, int frameCount, const Leave& leave)
{
    using V = Lane<Width>;
    const BandLanes::Cascades& coefficients = lanes.modulator();
    if (lanes.modulatorDelays == nullptr) {
        firstSectionsOfGroup<Width>(
            lanes, rows, firstBand, carrier, SameInput { modulator }, frameCount);
    } else {
        firstSectionsOfGroup<Width>(lanes, rows, firstBand, carrier,
            DelayedInput<Width>(modulator, lanes.modulatorDelays, firstBand), frameCount);
    }
    {
        constexpr int rest = bandSectionCount - firstPassSections;
        BandPair<Width, firstPassSections, rest> pair;
        SectionStates<Width, 0, envelopeSectionCount> envelope;
        pair.load(lanes, firstBand);
        envelope.load(lanes.envelope(), firstBand);
        for (int t = 0; t < frameCount; ++t) {
            V m = load<Width>(rows.levels(t) + firstBand);
            V c = load<Width>(rows.carrierBands(t) + firstBand);
            pair.run(coefficients, firstBand, m, c);
            const V level
                = envelopeSections<Width>(m, envelope, lanes.envelope(), firstBand) * levelScale;
            store<Width>(rows.levels(t) + firstBand, level);
            leave(t, firstBand, c, level);
        }
        pair.store(lanes, firstBand);
        envelope.store(lanes.envelope(), firstBand);
    }
}

// Analysis of the bands [firstBand, endBand), both multiples of Width, over frameCount frames.
template <int Width, typename Leave>
LUMIVOX_INLINE void analyseBands(BandLanes& lanes, auto& rows, int firstBand, int endBand,
    const double* carrier, const double* modulator, int frameCount, const Leave& leave)
{
    for (int first = firstBand; first < endBand; first += Width)
        analyseGroup<Width>(lanes, rows, first, carrier, modulator, frameCount, leave);
}

// Analysis of the groups of the padded bank that hold its own bands: the levels and the carrier
// bands in their rows (the silent lanes' rows stay the zeros they hold).
template <int Width>
LUMIVOX_INLINE void analyse(
    BandLanes& lanes, auto& rows, const double* carrier, const double* modulator, int frameCount)
{
    const KeepCarrierBands<Width, std::remove_cvref_t<decltype(rows)>> keep { rows };
    analyseBands<Width>(lanes, rows, 0, rows.template liveLanes<Width>(), carrier, modulator,
        frameCount, keep);
}

} // namespace lumivox::engine::kernel
