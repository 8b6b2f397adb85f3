#pragma once

// The band-pass and envelope sections run on lanes, with their states held in registers over a
// run of frames.

#include "kernel_lanes.h"

namespace lumivox::engine::kernel {

// One BiquadSection::process step per lane.
template <int Width>
LUMIVOX_INLINE Lane<Width> section(Lane<Width> x, Lane<Width>& z1, Lane<Width>& z2, Lane<Width> b1,
    Lane<Width> b2, Lane<Width> a1, Lane<Width> a2)
{
    const Lane<Width> y = x + z1;
    z1 = b1 * x + z2 - a1 * y;
    z2 = b2 * x - a2 * y;
    return y;
}

// The band-pass sections of the bank all have their zeros at z = 1 and z = -1, which the table
// gives exactly: section 0 as b1 = 0 and b2 = -1, the others as b2 = 1 (band_table_test checks
// this). Multiplying by 1 leaves a value as it is, by -1 negates it, and by +0 gives a zero with
// the value's sign (the inputs are PCM samples, always finite), so the sections below skip those
// multiplies and give the same bits as section().

// 0.0 * x for finite x: a zero with the sign of x.
template <int Width> LUMIVOX_INLINE Lane<Width> zeroSignedAs(Lane<Width> x)
{
    constexpr long long signBit = static_cast<long long>(0x8000000000000000ull);
    return reinterpret_cast<Lane<Width>>(reinterpret_cast<LaneBits<Width>>(x) & signBit);
}

// Section 0 of a band-pass (b1 = 0, b2 = -1), with its second state held negated, w2 = -z2:
// z2 = -x - a2 y is -(x + a2 y) exactly, and b1 x + z2 is 0 x - w2.
template <int Width>
LUMIVOX_INLINE Lane<Width> firstBandPassSection(
    Lane<Width> x, Lane<Width>& z1, Lane<Width>& w2, Lane<Width> a1, Lane<Width> a2)
{
    const Lane<Width> y = x + z1;
    z1 = zeroSignedAs<Width>(x) - w2 - a1 * y;
    w2 = x + a2 * y;
    return y;
}

// Sections 1 to 4 of a band-pass (b2 = 1).
template <int Width>
LUMIVOX_INLINE Lane<Width> laterBandPassSection(
    Lane<Width> x, Lane<Width>& z1, Lane<Width>& z2, Lane<Width> b1, Lane<Width> a1, Lane<Width> a2)
{
    const Lane<Width> y = x + z1;
    z1 = b1 * x + z2 - a1 * y;
    z2 = x - a2 * y;
    return y;
}

// The states of sections [First, First + Count) of one group of Width bands, for one cascade, held
// in registers over a run of frames. A band-pass holds section 0's second state negated.
template <int Width, int First, int Count, bool BandPass = false> struct SectionStates {
    static constexpr bool negatesFirst = BandPass && First == 0;
    Lane<Width> z1[Count];
    Lane<Width> z2[Count];

    LUMIVOX_INLINE void load(const BandLanes::Cascades& lanes, int firstBand)
    {
        for (int s = 0; s < Count; ++s) {
            z1[s]
                = kernel::load<Width>(&lanes.half(firstBand).z1[First + s][laneInHalf(firstBand)]);
            z2[s]
                = kernel::load<Width>(&lanes.half(firstBand).z2[First + s][laneInHalf(firstBand)]);
        }
        if constexpr (negatesFirst)
            z2[0] = -z2[0];
    }

    LUMIVOX_INLINE void store(const BandLanes::Cascades& lanes, int firstBand) const
    {
        for (int s = 0; s < Count; ++s) {
            kernel::store<Width>(
                &lanes.half(firstBand).z1[First + s][laneInHalf(firstBand)], z1[s]);
            kernel::store<Width>(
                &lanes.half(firstBand).z2[First + s][laneInHalf(firstBand)], z2[s]);
        }
        if constexpr (negatesFirst)
            kernel::store<Width>(&lanes.half(firstBand).z2[0][laneInHalf(firstBand)], -z2[0]);
    }
};

// Sections [First, First + Count) of the modulator and the carrier band-pass of one group, side by
// side: two independent chains in flight on the same coefficients (a band's two cascades carry the
// same ones, and the engine's bank is only ever built from the table).
template <int Width, int First, int Count> struct BandPair {
    SectionStates<Width, First, Count, true> modulator;
    SectionStates<Width, First, Count, true> carrier;

    LUMIVOX_INLINE void load(const BandLanes& lanes, int firstBand)
    {
        modulator.load(lanes.modulator(), firstBand);
        carrier.load(lanes.carrier(), firstBand);
    }

    LUMIVOX_INLINE void store(BandLanes& lanes, int firstBand) const
    {
        modulator.store(lanes.modulator(), firstBand);
        carrier.store(lanes.carrier(), firstBand);
    }

    LUMIVOX_INLINE void run(
        const BandLanes::Cascades& coefficients, int firstBand, Lane<Width>& m, Lane<Width>& c)
    {
        for (int s = 0; s < Count; ++s) {
            const Lane<Width> a1 = kernel::load<Width>(
                &coefficients.half(firstBand).a1[First + s][laneInHalf(firstBand)]);
            const Lane<Width> a2 = kernel::load<Width>(
                &coefficients.half(firstBand).a2[First + s][laneInHalf(firstBand)]);
            if (First + s == 0) {
                m = firstBandPassSection<Width>(m, modulator.z1[s], modulator.z2[s], a1, a2);
                c = firstBandPassSection<Width>(c, carrier.z1[s], carrier.z2[s], a1, a2);
            } else {
                const Lane<Width> b1 = kernel::load<Width>(
                    &coefficients.half(firstBand).b1[First + s][laneInHalf(firstBand)]);
                m = laterBandPassSection<Width>(m, modulator.z1[s], modulator.z2[s], b1, a1, a2);
                c = laterBandPassSection<Width>(c, carrier.z1[s], carrier.z2[s], b1, a1, a2);
            }
        }
    }
};

// Splits the five band-pass sections into two passes over the frames, so that each pass keeps its
// states in registers.
constexpr int firstPassSections = 3;

// Sections [First, First + Count) of one band-pass cascade for the groups at firstBand and
// firstBand + Width.
template <int Width, int First, int Count> struct GroupPair {
    SectionStates<Width, First, Count, true> low;
    SectionStates<Width, First, Count, true> high;

    LUMIVOX_INLINE void load(const BandLanes::Cascades& lanes, int firstBand)
    {
        low.load(lanes, firstBand);
        high.load(lanes, firstBand + Width);
    }

    LUMIVOX_INLINE void store(const BandLanes::Cascades& lanes, int firstBand) const
    {
        low.store(lanes, firstBand);
        high.store(lanes, firstBand + Width);
    }

    LUMIVOX_INLINE void run(
        const BandLanes::Cascades& c, int firstBand, Lane<Width>& x0, Lane<Width>& x1)
    {
        const int secondBand = firstBand + Width;
        for (int s = 0; s < Count; ++s) {
            const int at = First + s;
            const Lane<Width> a1Low
                = kernel::load<Width>(&c.half(firstBand).a1[at][laneInHalf(firstBand)]);
            const Lane<Width> a2Low
                = kernel::load<Width>(&c.half(firstBand).a2[at][laneInHalf(firstBand)]);
            const Lane<Width> a1High
                = kernel::load<Width>(&c.half(secondBand).a1[at][laneInHalf(secondBand)]);
            const Lane<Width> a2High
                = kernel::load<Width>(&c.half(secondBand).a2[at][laneInHalf(secondBand)]);
            if (at == 0) {
                x0 = firstBandPassSection<Width>(x0, low.z1[s], low.z2[s], a1Low, a2Low);
                x1 = firstBandPassSection<Width>(x1, high.z1[s], high.z2[s], a1High, a2High);
            } else {
                const Lane<Width> b1Low
                    = kernel::load<Width>(&c.half(firstBand).b1[at][laneInHalf(firstBand)]);
                const Lane<Width> b1High
                    = kernel::load<Width>(&c.half(secondBand).b1[at][laneInHalf(secondBand)]);
                x0 = laterBandPassSection<Width>(x0, low.z1[s], low.z2[s], b1Low, a1Low, a2Low);
                x1 = laterBandPassSection<Width>(
                    x1, high.z1[s], high.z2[s], b1High, a1High, a2High);
            }
        }
    }
};

// Envelope sections [First, First + Count) for the group at firstBand; the first section takes the
// rectified band signal through the input gain.
template <int Width, int First, int Count>
LUMIVOX_INLINE Lane<Width> envelopeSections(Lane<Width> x,
    SectionStates<Width, First, Count>& states, const BandLanes::Cascades& envelope, int firstBand)
{
    if constexpr (First == 0) {
        const Lane<Width> zero {};
        x = kernel::load<Width>(&envelope.half(firstBand).gain[laneInHalf(firstBand)])
            * (x >= zero ? x : -x);
    }
    for (int s = 0; s < Count; ++s)
        x = section<Width>(x, states.z1[s], states.z2[s],
            kernel::load<Width>(&envelope.half(firstBand).b1[First + s][laneInHalf(firstBand)]),
            kernel::load<Width>(&envelope.half(firstBand).b2[First + s][laneInHalf(firstBand)]),
            kernel::load<Width>(&envelope.half(firstBand).a1[First + s][laneInHalf(firstBand)]),
            kernel::load<Width>(&envelope.half(firstBand).a2[First + s][laneInHalf(firstBand)]));
    return x;
}

} // namespace lumivox::engine::kernel
