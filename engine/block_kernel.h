#pragma once

// The vocoder's arithmetic for a run of frames with the bands side by side in vector lanes. Every
// lane performs exactly the operations processSample performs for its band, in the same order and
// without fused multiply-adds, so the results are the same bits; only sums across bands (which
// processSample forms in band order) are left as ordinary scalar sums in that order.
//
// Everything here is always inlined into the entry functions of each instruction set, each
// compiled with its own target attribute, so the same source yields an AVX-512, an AVX2 and an SSE2
// body.
//
// The work has two halves. Analysis runs the band filters of some bands over all frames, keeping
// each group's filter states in registers; its frames depend on each other but its bands do not.
// Finishing turns each frame's levels and carrier bands into an output sample; its bands depend on
// each other but its frames do not. Two threads can therefore split analysis by bands and
// finishing by frames.

#include "band_lanes.h"

namespace lumivox::engine::kernel {

// The vector types go through a class template: GCC drops attributes written on alias templates.
template <int Width> struct LaneTypes {
    typedef double Values __attribute__((vector_size(Width * sizeof(double))));
};
template <int Width> using Lane = typename LaneTypes<Width>::Values;

#define LUMIVOX_INLINE inline __attribute__((always_inline))

template <int Width> LUMIVOX_INLINE Lane<Width> load(const double* source)
{
    Lane<Width> value;
    __builtin_memcpy(&value, source, sizeof value);
    return value;
}

template <int Width> LUMIVOX_INLINE void store(double* destination, Lane<Width> value)
{
    __builtin_memcpy(destination, &value, sizeof value);
}

// The parameters of one block; they do not change inside it.
struct BlockSettings {
    const double* weights; // the spread's weights[0..14]
    const double* denominators; // the spread's denominators[0..31]
    int reach; // weights 1..reach are non-zero
    bool smoothing; // vagueness > 0
    bool weightsAllOne; // weights 1..reach are all exactly 1
    double clearance;
    bool clearing; // clearance > 0
    double outputGain;
};

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

template <typename V> LUMIVOX_INLINE void keepInRegister(V& value) { asm("" : "+v"(value)); }

// The states of sections [First, First + Count) of one group of Width bands, for one cascade, held
// in registers over a run of frames.
template <int Width, int First, int Count> struct SectionStates {
    Lane<Width> z1[Count];
    Lane<Width> z2[Count];

    LUMIVOX_INLINE void load(const BandLanes::Cascades& lanes, int firstBand)
    {
        for (int s = 0; s < Count; ++s) {
            z1[s] = kernel::load<Width>(&lanes.z1[First + s][firstBand]);
            z2[s] = kernel::load<Width>(&lanes.z2[First + s][firstBand]);
        }
    }

    LUMIVOX_INLINE void store(BandLanes::Cascades& lanes, int firstBand) const
    {
        for (int s = 0; s < Count; ++s) {
            kernel::store<Width>(&lanes.z1[First + s][firstBand], z1[s]);
            kernel::store<Width>(&lanes.z2[First + s][firstBand], z2[s]);
        }
    }
};

// Sections [First, First + Count) of the modulator and the carrier band-pass of one group, side by
// side: two independent chains in flight on the same coefficients (a band's two cascades carry the
// same ones, and the engine's bank is only ever built from the table).
template <int Width, int First, int Count> struct BandPair {
    SectionStates<Width, First, Count> modulator;
    SectionStates<Width, First, Count> carrier;

    LUMIVOX_INLINE void load(const BandLanes& lanes, int firstBand)
    {
        modulator.load(lanes.modulator, firstBand);
        carrier.load(lanes.carrier, firstBand);
    }

    LUMIVOX_INLINE void store(BandLanes& lanes, int firstBand) const
    {
        modulator.store(lanes.modulator, firstBand);
        carrier.store(lanes.carrier, firstBand);
    }

    LUMIVOX_INLINE void run(
        const BandLanes::Cascades& coefficients, int firstBand, Lane<Width>& m, Lane<Width>& c)
    {
        for (int s = 0; s < Count; ++s) {
            Lane<Width> b1 = kernel::load<Width>(&coefficients.b1[First + s][firstBand]);
            Lane<Width> b2 = kernel::load<Width>(&coefficients.b2[First + s][firstBand]);
            Lane<Width> a1 = kernel::load<Width>(&coefficients.a1[First + s][firstBand]);
            Lane<Width> a2 = kernel::load<Width>(&coefficients.a2[First + s][firstBand]);
            m = section<Width>(m, modulator.z1[s], modulator.z2[s], b1, b2, a1, a2);
            c = section<Width>(c, carrier.z1[s], carrier.z2[s], b1, b2, a1, a2);
        }
    }
};

template <int Width> LUMIVOX_INLINE Lane<Width> broadcast(double value)
{
    Lane<Width> lanes;
    for (int j = 0; j < Width; ++j)
        lanes[j] = value;
    return lanes;
}

// Splits the five band-pass sections into two passes over the frames, so that each pass keeps its
// states in registers.
constexpr int firstPassSections = 3;

// Analysis of one group: the first band-pass sections of both cascades, staged in the level and
// carrier rows; then the remaining sections, the envelope and the level.
template <int Width>
LUMIVOX_INLINE void analyseGroup(BandLanes& lanes, FrameRows& rows, int firstBand,
    const double* carrier, const double* modulator, int frameCount)
{
    using V = Lane<Width>;
    const BandLanes::Cascades& coefficients = lanes.modulator;
    const V gain = load<Width>(&coefficients.gain[firstBand]);
    {
        BandPair<Width, 0, firstPassSections> pair;
        pair.load(lanes, firstBand);
        for (int t = 0; t < frameCount; ++t) {
            V m = gain * modulator[t];
            V c = gain * carrier[t];
            pair.run(coefficients, firstBand, m, c);
            store<Width>(rows.levels(t) + firstBand, m);
            store<Width>(rows.carrierBands(t) + firstBand, c);
        }
        pair.store(lanes, firstBand);
    }
    {
        constexpr int rest = bandSectionCount - firstPassSections;
        BandPair<Width, firstPassSections, rest> pair;
        SectionStates<Width, 0, envelopeSectionCount> envelope;
        pair.load(lanes, firstBand);
        envelope.load(lanes.envelope, firstBand);
        const V envelopeGain = load<Width>(&lanes.envelope.gain[firstBand]);
        const V zero {};
        for (int t = 0; t < frameCount; ++t) {
            V m = load<Width>(rows.levels(t) + firstBand);
            V c = load<Width>(rows.carrierBands(t) + firstBand);
            pair.run(coefficients, firstBand, m, c);
            V e = envelopeGain * (m >= zero ? m : -m);
            for (int s = 0; s < envelopeSectionCount; ++s)
                e = section<Width>(e, envelope.z1[s], envelope.z2[s],
                    load<Width>(&lanes.envelope.b1[s][firstBand]),
                    load<Width>(&lanes.envelope.b2[s][firstBand]),
                    load<Width>(&lanes.envelope.a1[s][firstBand]),
                    load<Width>(&lanes.envelope.a2[s][firstBand]));
            store<Width>(rows.levels(t) + firstBand, e * levelScale);
            store<Width>(rows.carrierBands(t) + firstBand, c);
        }
        pair.store(lanes, firstBand);
        envelope.store(lanes.envelope, firstBand);
    }
}

// Analysis of the bands [firstBand, endBand), both multiples of Width, over frameCount frames.
template <int Width>
LUMIVOX_INLINE void analyse(BandLanes& lanes, FrameRows& rows, int firstBand, int endBand,
    const double* carrier, const double* modulator, int frameCount)
{
    for (int first = firstBand; first < endBand; first += Width)
        analyseGroup<Width>(lanes, rows, first, carrier, modulator, frameCount);
}

// The sum of 32 values per frame, in band order starting from 0.0 as processSample forms it;
// eight frames at a time, so that eight independent chains of additions keep the adders busy.
template <typename RowOf> LUMIVOX_INLINE void sumRows(RowOf row, int first, int end, double* sums)
{
    constexpr int chains = 8;
    int t = first;
    for (; t + chains <= end; t += chains) {
        double partial[chains] = {};
        for (int i = 0; i < bandCount; ++i) {
            for (int c = 0; c < chains; ++c)
                partial[c] += row(t + c)[i];
        }
        for (int c = 0; c < chains; ++c)
            sums[t + c] = partial[c];
    }
    for (; t < end; ++t) {
        double sum = 0.0;
        for (int i = 0; i < bandCount; ++i)
            sum += row(t)[i];
        sums[t] = sum;
    }
}

// Adds the upward then the downward neighbours' terms to the numerators of all groups of one
// frame. AllOnes: every weight is exactly 1, and a weight of 1 leaves a term's bits as they are.
template <int Width, bool AllOnes>
LUMIVOX_INLINE void addNeighbours(
    Lane<Width>* numerator, const double* levels, const BlockSettings& settings)
{
    constexpr int groups = bandCount / Width;
    for (int side = 1; side >= -1; side -= 2) {
        for (int k = 1; k <= settings.reach; ++k) {
            const double* neighbours = levels + side * k;
            if constexpr (AllOnes) {
                for (int g = 0; g < groups; ++g)
                    numerator[g] = numerator[g] + load<Width>(neighbours + g * Width);
            } else {
                const double weight = settings.weights[k];
                for (int g = 0; g < groups; ++g)
                    numerator[g] = numerator[g] + weight * load<Width>(neighbours + g * Width);
            }
        }
    }
}

// Vagueness for one frame: each band's weighted mean of itself and its neighbours, numerators
// built upward first and then downward, exactly as processSample builds them. The padding makes
// the terms of neighbours outside the bank -0.0, which leaves a numerator as it was. All groups
// move together, so each step has a chain of additions per group in flight.
template <int Width>
LUMIVOX_INLINE void smoothFrame(
    const double* levels, double* smoothed, const BlockSettings& settings)
{
    constexpr int groups = bandCount / Width;
    Lane<Width> numerator[groups];
    for (int g = 0; g < groups; ++g)
        numerator[g] = load<Width>(levels + g * Width);
    if (settings.weightsAllOne)
        addNeighbours<Width, true>(numerator, levels, settings);
    else
        addNeighbours<Width, false>(numerator, levels, settings);
    for (int g = 0; g < groups; ++g)
        store<Width>(
            smoothed + g * Width, numerator[g] / load<Width>(settings.denominators + g * Width));
}

// Finishing of the frames [first, end): the mean, Vagueness, Instrument Clearance, the band
// products and their sum times the gain. Returns the row of levels the last frame used.
template <int Width>
LUMIVOX_INLINE const double* finish(
    FrameRows& rows, const BlockSettings& settings, int first, int end, double* output)
{
    double* means = rows.means();
    // The mean only matters to Instrument Clearance.
    if (settings.clearing) {
        sumRows([&rows](int t) { return rows.levels(t); }, first, end, means);
        for (int t = first; t < end; ++t)
            means[t] = means[t] / static_cast<double>(bandCount);
    }

    const double* levels = nullptr;
    for (int t = first; t < end; ++t) {
        double* row = rows.levels(t);
        if (settings.smoothing) {
            smoothFrame<Width>(row, rows.smoothed(t), settings);
            row = rows.smoothed(t);
        }
        if (settings.clearing) {
            const double pull = settings.clearance * means[t];
            const double keep = 1.0 - settings.clearance;
            for (int i = 0; i < bandCount; i += Width)
                store<Width>(row + i, pull + keep * load<Width>(row + i));
        }
        double* products = rows.carrierBands(t);
        for (int i = 0; i < bandCount; i += Width)
            store<Width>(products + i, load<Width>(products + i) * load<Width>(row + i));
        levels = row;
    }

    sumRows([&rows](int t) { return rows.carrierBands(t); }, first, end, output);
    for (int t = first; t < end; ++t)
        output[t] = output[t] * settings.outputGain;
    return levels;
}

#undef LUMIVOX_INLINE

} // namespace lumivox::engine::kernel
