#pragma once

// The vocoder's arithmetic for a run of frames with the bands side by side in vector lanes. Every
// lane performs the operations processSample performs for its band, in the same order and without
// fused multiply-adds, leaving out only multiplies by the exact 0, 1 and -1 of the bank, so the
// results are the same bits. Sums across bands, which processSample forms in band order, are
// formed in that order either as scalar sums or with frames across the lanes.
//
// Everything here is always inlined into the entry functions of each instruction set, each
// compiled with its own target attribute, so the same source yields an AVX-512, an AVX2 and an SSE2
// body.
//
// The work has two halves. Analysis runs the band filters of some bands over all frames, keeping
// each group's filter states in registers; its frames depend on each other but its bands do not.
// Finishing turns each frame's levels and carrier bands into an output sample; its bands depend on
// each other but its frames do not. The two sides at the end split the work differently, for two
// threads that each take one: the modulator's filters on one, the carrier's on the other.

#include "band_lanes.h"

#include <algorithm>

namespace lumivox::engine::kernel {

// The vector types go through a class template: GCC drops attributes written on alias templates.
template <int Width> struct LaneTypes {
    typedef double Values __attribute__((vector_size(Width * sizeof(double))));
    typedef long long Bits __attribute__((vector_size(Width * sizeof(double))));
};
template <int Width> using Lane = typename LaneTypes<Width>::Values;
template <int Width> using LaneBits = typename LaneTypes<Width>::Bits;

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
    int bands; // the layout's bands; the rows hold them padded to rows.bands()
    const double*
        weights; // the spread's bandWeights: band i's weight at distance k at k * stride + i
    int stride; // the padded bank's bands
    const double* denominators; // the spread's denominators, one per band of the padded bank
    int reach; // no band has a non-zero weight beyond reach
    bool smoothing; // some level is smoothed
    bool weightsAllOne; // every band's weights 1..reach are exactly 1
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

template <typename V> LUMIVOX_INLINE void keepInRegister(V& value) { asm("" : "+v"(value)); }

// Runs call with Bands, the padded bank's band count, as a constant: the smoothing step keeps one
// vector per group of bands in registers and needs to know how many there are.
#define LUMIVOX_WITH_PADDED_BANDS(bands, call)                                                     \
    switch (bands) {                                                                               \
    case 16: {                                                                                     \
        constexpr int Bands = 16;                                                                  \
        call;                                                                                      \
        break;                                                                                     \
    }                                                                                              \
    case 48: {                                                                                     \
        constexpr int Bands = 48;                                                                  \
        call;                                                                                      \
        break;                                                                                     \
    }                                                                                              \
    case 64: {                                                                                     \
        constexpr int Bands = 64;                                                                  \
        call;                                                                                      \
        break;                                                                                     \
    }                                                                                              \
    default: {                                                                                     \
        constexpr int Bands = 32;                                                                  \
        call;                                                                                      \
        break;                                                                                     \
    }                                                                                              \
    }
static_assert(mostBands == 64 && bandPadding == 16, "LUMIVOX_WITH_PADDED_BANDS lists every count");

// The work area with its band count as a constant, so that every row's place is a constant
// offset from the one before, as in a bank of fixed size.
template <int Bands> class FixedRows {
public:
    static constexpr int levelStride = 2 * FrameRows::levelPadFor(Bands) + Bands;

    explicit FixedRows(FrameRows& rows)
        : levelsBase(rows.levels(0))
        , carrierBase(rows.carrierBands(0))
        , smoothedBase(rows.smoothed(0))
        , meansBase(rows.means())
    {
    }

    static constexpr int bands() { return Bands; }
    double* levels(int frame) const { return levelsBase + frame * levelStride; }
    double* carrierBands(int frame) const { return carrierBase + frame * Bands; }
    double* smoothed(int frame) const { return smoothedBase + frame * Bands; }
    double* means() const { return meansBase; }

private:
    double* levelsBase;
    double* carrierBase;
    double* smoothedBase;
    double* meansBase;
};

// Runs call with `fixed`, the FrameRows rows seen as FixedRows.
#define LUMIVOX_WITH_FIXED_ROWS(rows, call)                                                        \
    LUMIVOX_WITH_PADDED_BANDS((rows).bands(), {                                                    \
        kernel::FixedRows<Bands> fixed(rows);                                                      \
        call;                                                                                      \
    })

// Sets the padding's levels of frames [first, end) to -0.0, as outside the bank, so that a band
// that reaches into them in the smoothing step adds nothing to its sum.
LUMIVOX_INLINE void silencePadding(auto& rows, const BlockSettings& settings, int first, int end)
{
    if (settings.bands == rows.bands())
        return;
    for (int t = first; t < end; ++t)
        std::fill(rows.levels(t) + settings.bands, rows.levels(t) + rows.bands(), -0.0);
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

template <int Width> LUMIVOX_INLINE Lane<Width> broadcast(double value)
{
    Lane<Width> lanes;
    for (int j = 0; j < Width; ++j)
        lanes[j] = value;
    return lanes;
}

// Transposes a square of Width rows in registers: lane f of row j becomes lane j of row f.
template <int Width> LUMIVOX_INLINE void transpose(Lane<Width>* rows)
{
    static_assert(Width == 2 || Width == 4, "frames go across two or four lanes");
    using V = Lane<Width>;
    if constexpr (Width == 2) {
        const V first = __builtin_shufflevector(rows[0], rows[1], 0, 2);
        const V second = __builtin_shufflevector(rows[0], rows[1], 1, 3);
        rows[0] = first;
        rows[1] = second;
    } else {
        const V low01 = __builtin_shufflevector(rows[0], rows[1], 0, 4, 2, 6);
        const V high01 = __builtin_shufflevector(rows[0], rows[1], 1, 5, 3, 7);
        const V low23 = __builtin_shufflevector(rows[2], rows[3], 0, 4, 2, 6);
        const V high23 = __builtin_shufflevector(rows[2], rows[3], 1, 5, 3, 7);
        rows[0] = __builtin_shufflevector(low01, low23, 0, 1, 4, 5);
        rows[1] = __builtin_shufflevector(high01, high23, 0, 1, 4, 5);
        rows[2] = __builtin_shufflevector(low01, low23, 2, 3, 6, 7);
        rows[3] = __builtin_shufflevector(high01, high23, 2, 3, 6, 7);
    }
}

// Splits the five band-pass sections into two passes over the frames, so that each pass keeps its
// states in registers.
constexpr int firstPassSections = 3;

// Analysis of one group: the first band-pass sections of both cascades, staged in the level and
// carrier rows; then the remaining sections, the envelope and the level.
// What the analysis of a group leaves for finishing: the carrier bands; the band products in
// their place; or no row at all, the products being added, in band order, to each frame's sum in
// sums. The last two are for blocks without Vagueness and Instrument Clearance.
enum class Leaving { CarrierBands, Products, Sums };

template <int Width, Leaving Leaves = Leaving::CarrierBands>
LUMIVOX_INLINE void analyseGroup(BandLanes& lanes, auto& rows, int firstBand, const double* carrier,
    const double* modulator, int frameCount, double* sums = nullptr)
{
    using V = Lane<Width>;
    const BandLanes::Cascades& coefficients = lanes.modulator();
    const V gain = load<Width>(&coefficients.half(firstBand).gain[laneInHalf(firstBand)]);
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
        envelope.load(lanes.envelope(), firstBand);
        const V envelopeGain
            = load<Width>(&lanes.envelope().half(firstBand).gain[laneInHalf(firstBand)]);
        const V zero {};
        for (int t = 0; t < frameCount; ++t) {
            V m = load<Width>(rows.levels(t) + firstBand);
            V c = load<Width>(rows.carrierBands(t) + firstBand);
            pair.run(coefficients, firstBand, m, c);
            V e = envelopeGain * (m >= zero ? m : -m);
            for (int s = 0; s < envelopeSectionCount; ++s)
                e = section<Width>(e, envelope.z1[s], envelope.z2[s],
                    load<Width>(&lanes.envelope().half(firstBand).b1[s][laneInHalf(firstBand)]),
                    load<Width>(&lanes.envelope().half(firstBand).b2[s][laneInHalf(firstBand)]),
                    load<Width>(&lanes.envelope().half(firstBand).a1[s][laneInHalf(firstBand)]),
                    load<Width>(&lanes.envelope().half(firstBand).a2[s][laneInHalf(firstBand)]));
            const V level = e * levelScale;
            store<Width>(rows.levels(t) + firstBand, level);
            if constexpr (Leaves == Leaving::Sums) {
                const V product = c * level;
                double sum = sums[t];
                for (int j = 0; j < Width; ++j)
                    sum = sum + product[j];
                sums[t] = sum;
            } else if constexpr (Leaves == Leaving::Products) {
                store<Width>(rows.carrierBands(t) + firstBand, c * level);
            } else {
                store<Width>(rows.carrierBands(t) + firstBand, c);
            }
        }
        pair.store(lanes, firstBand);
        envelope.store(lanes.envelope(), firstBand);
    }
}

// Adds values [firstValue, endValue) of each frame's row, in order, to the frame's sum; eight
// frames at a time, so that eight independent chains of additions keep the adders busy.
template <typename RowOf>
LUMIVOX_INLINE void addRows(
    RowOf row, int firstValue, int endValue, int first, int end, double* sums)
{
    constexpr int chains = 8;
    int t = first;
    for (; t + chains <= end; t += chains) {
        double partial[chains];
        for (int c = 0; c < chains; ++c)
            partial[c] = sums[t + c];
        for (int i = firstValue; i < endValue; ++i) {
            for (int c = 0; c < chains; ++c)
                partial[c] += row(t + c)[i];
        }
        for (int c = 0; c < chains; ++c)
            sums[t + c] = partial[c];
    }
    for (; t < end; ++t) {
        double sum = sums[t];
        for (int i = firstValue; i < endValue; ++i)
            sum += row(t)[i];
        sums[t] = sum;
    }
}

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

// Analysis of the bands [firstBand, endBand), both multiples of Width, over frameCount frames.
template <int Width, Leaving Leaves = Leaving::CarrierBands>
LUMIVOX_INLINE void analyseBands(BandLanes& lanes, auto& rows, int firstBand, int endBand,
    const double* carrier, const double* modulator, int frameCount, double* sums = nullptr)
{
    for (int first = firstBand; first < endBand; first += Width)
        analyseGroup<Width, Leaves>(lanes, rows, first, carrier, modulator, frameCount, sums);
}

// Analysis of every band of the padded bank, the count as a constant.
template <int Width>
LUMIVOX_INLINE void analyse(
    BandLanes& lanes, auto& rows, const double* carrier, const double* modulator, int frameCount)
{
    LUMIVOX_WITH_PADDED_BANDS(
        rows.bands(), (analyseBands<Width>(lanes, rows, 0, Bands, carrier, modulator, frameCount)));
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
    for (int first = 0; first < endBand; first += Width) {
        if constexpr (AcrossFrames)
            analyseGroup<Width, Leaving::Products>(
                lanes, rows, first, carrier, modulator, frameCount);
        else
            analyseGroup<Width, Leaving::Sums>(
                lanes, rows, first, carrier, modulator, frameCount, sums);
    }
    if constexpr (AcrossFrames)
        addProductsAcrossFrames<Width>(rows, 0, endBand, 0, frameCount, sums);
}

// Analysis and finishing of all bands in one, for blocks without Vagueness and Instrument
// Clearance: the band products summed in band order from 0.0, then scaled by the gain.
template <int Width>
LUMIVOX_INLINE void analyseAndFinish(BandLanes& lanes, auto& rows, const double* carrier,
    const double* modulator, int frameCount, double outputGain, double* output)
{
    // The band count as a constant, so that the groups' loop is laid out as for a fixed bank.
    LUMIVOX_WITH_PADDED_BANDS(rows.bands(),
        (analyseIntoSums<Width, Width == 4>(
            lanes, rows, Bands, carrier, modulator, frameCount, output)));
    for (int t = 0; t < frameCount; ++t)
        output[t] = output[t] * outputGain;
}

// The sum of count values per frame, in band order starting from 0.0 as processSample forms it.
template <typename RowOf>
LUMIVOX_INLINE void sumRows(RowOf row, int count, int first, int end, double* sums)
{
    for (int t = first; t < end; ++t)
        sums[t] = 0.0;
    addRows(row, 0, count, first, end, sums);
}

// Adds the upward then the downward neighbours' terms to the numerators of all groups of one
// frame. AllOnes: every weight is exactly 1, and a weight of 1 leaves a term's bits as they are.
template <int Width, bool AllOnes, int FirstBand, int EndBand>
LUMIVOX_INLINE void addNeighbours(
    Lane<Width>* numerator, const double* levels, const BlockSettings& settings)
{
    constexpr int groups = (EndBand - FirstBand) / Width;
    for (int side = 1; side >= -1; side -= 2) {
        for (int k = 1; k <= settings.reach; ++k) {
            const double* neighbours = levels + FirstBand + side * k;
            if constexpr (AllOnes) {
                for (int g = 0; g < groups; ++g)
                    numerator[g] = numerator[g] + load<Width>(neighbours + g * Width);
            } else {
                const double* weights = settings.weights + k * settings.stride + FirstBand;
                for (int g = 0; g < groups; ++g)
                    numerator[g] = numerator[g]
                        + load<Width>(weights + g * Width) * load<Width>(neighbours + g * Width);
            }
        }
    }
}

// Vagueness for the bands [FirstBand, EndBand) of one frame: each band's weighted mean of itself
// and its neighbours, numerators
// built upward first and then downward, exactly as processSample builds them. The padding makes
// the terms of neighbours outside the bank -0.0, which leaves a numerator as it was. All groups
// move together, so each step has a chain of additions per group in flight.
template <int Width, int FirstBand, int EndBand>
LUMIVOX_INLINE void smoothFrame(
    const double* levels, double* smoothed, const BlockSettings& settings)
{
    constexpr int groups = (EndBand - FirstBand) / Width;
    Lane<Width> numerator[groups];
    for (int g = 0; g < groups; ++g)
        numerator[g] = load<Width>(levels + FirstBand + g * Width);
    if (settings.weightsAllOne)
        addNeighbours<Width, true, FirstBand, EndBand>(numerator, levels, settings);
    else
        addNeighbours<Width, false, FirstBand, EndBand>(numerator, levels, settings);
    for (int g = 0; g < groups; ++g) {
        const int band = FirstBand + g * Width;
        store<Width>(smoothed + band, numerator[g] / load<Width>(settings.denominators + band));
    }
}

// The levels of a few frames with the frames across the lanes (one vector per band of the padded
// bank), between maxSpread vectors of -0.0 on each side: a neighbour outside the bank then adds
// -0.0 to a numerator, which leaves it as it was.
template <int Frames> struct LevelsAcrossFrames {
    Lane<Frames> padded[maxSpread + mostBands + maxSpread];

    LUMIVOX_INLINE explicit LevelsAcrossFrames(int bands)
    {
        Lane<Frames> negativeZero;
        for (int f = 0; f < Frames; ++f)
            negativeZero[f] = -0.0;
        for (int k = 0; k < maxSpread; ++k) {
            padded[k] = negativeZero;
            padded[maxSpread + bands + k] = negativeZero;
        }
    }
    LUMIVOX_INLINE Lane<Frames>& band(int i) { return padded[maxSpread + i]; }
};

// Finishing of Frames frames from frame t with the frames across the lanes: every sum is then a
// sum of whole vectors, formed in the order processSample forms it for each frame. Eight bands go
// together, so that eight chains of additions are in flight. When asked, the levels the last of
// the frames used are written to its smoothed row.
template <int Frames>
LUMIVOX_INLINE void finishAcrossFrames(auto& rows, const BlockSettings& settings, int t,
    double* output, LevelsAcrossFrames<Frames>& levels, bool keepLastLevels)
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

    V pull {};
    const double keep = 1.0 - settings.clearance;
    if (settings.clearing) {
        V sum {};
        for (int i = 0; i < settings.bands; ++i)
            sum = sum + levels.band(i);
        pull = settings.clearance * (sum / static_cast<double>(settings.bands));
    }

    constexpr int together = 8;
    V total {};
    for (int first = 0; first < bands; first += together) {
        V level[together];
        for (int j = 0; j < together; ++j)
            level[j] = levels.band(first + j);
        if (settings.smoothing) {
            // Steps that reach past the bank for all eight bands are left out.
            const int up = std::min(settings.reach, bands - 1 - first);
            const int down = std::min(settings.reach, first + together - 1);
            if (settings.weightsAllOne) {
                for (int k = 1; k <= up; ++k) {
                    for (int j = 0; j < together; ++j)
                        level[j] = level[j] + levels.band(first + j + k);
                }
                for (int k = 1; k <= down; ++k) {
                    for (int j = 0; j < together; ++j)
                        level[j] = level[j] + levels.band(first + j - k);
                }
            } else {
                for (int k = 1; k <= up; ++k) {
                    const double* weights = settings.weights + k * settings.stride + first;
                    for (int j = 0; j < together; ++j)
                        level[j] = level[j] + weights[j] * levels.band(first + j + k);
                }
                for (int k = 1; k <= down; ++k) {
                    const double* weights = settings.weights + k * settings.stride + first;
                    for (int j = 0; j < together; ++j)
                        level[j] = level[j] + weights[j] * levels.band(first + j - k);
                }
            }
            for (int j = 0; j < together; ++j)
                level[j] = level[j] / settings.denominators[first + j];
        }
        if (settings.clearing) {
            for (int j = 0; j < together; ++j)
                level[j] = pull + keep * level[j];
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

// Finishing of the frames [first, end) with the bands across the lanes: the mean, Vagueness,
// Instrument Clearance, the band products and their sum times the gain, eight frames' sums at a
// time.
template <int Width>
LUMIVOX_INLINE void finishAlongBands(
    auto& rows, const BlockSettings& settings, int first, int end, double* output)
{
    double* means = rows.means();
    const int bands = rows.bands();
    // The mean only matters to Instrument Clearance.
    if (settings.clearing) {
        sumRows([&rows](int t) { return rows.levels(t); }, settings.bands, first, end, means);
        for (int t = first; t < end; ++t)
            means[t] = means[t] / static_cast<double>(settings.bands);
    }

    for (int t = first; t < end; ++t) {
        const double* row = rows.levels(t);
        if (settings.smoothing) {
            LUMIVOX_WITH_PADDED_BANDS(
                bands, (smoothFrame<Width, 0, Bands>(row, rows.smoothed(t), settings)));
            row = rows.smoothed(t);
        }
        if (settings.clearing) {
            const double pull = settings.clearance * means[t];
            const double keep = 1.0 - settings.clearance;
            double* cleared = rows.smoothed(t);
            for (int i = 0; i < bands; i += Width)
                store<Width>(cleared + i, pull + keep * load<Width>(row + i));
            row = cleared;
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

// Finishing of the frames [first, end). The levels the last frame used are left in its smoothed
// row when Vagueness or Instrument Clearance changed them, and in its level row when neither did.
template <int Width>
LUMIVOX_INLINE void finish(
    auto& rows, const BlockSettings& settings, int first, int end, double* output)
{
    if (settings.smoothing)
        silencePadding(rows, settings, first, end);
    int t = first;
    // At full Vagueness every band adds 14 neighbours on each side, which is most of the work;
    // there the frames go across the lanes (four at most, which AVX-512 runs with its AVX2
    // half), so that the loads are whole vectors and the sums need no scalar additions. Where
    // fewer neighbours count, that costs more than it saves.
    if (settings.smoothing && settings.weightsAllOne) {
        constexpr int frames = Width < 4 ? Width : 4;
        LevelsAcrossFrames<frames> levels(rows.bands());
        for (; t + frames <= end; t += frames)
            finishAcrossFrames<frames>(rows, settings, t, output, levels, t + frames == end);
    }
    finishAlongBands<Width>(rows, settings, t, end, output);
}

// The two sides of the engine for a run split between two threads, which hand each other 32 or 48
// values per frame. The modulator side runs the modulator band-passes, the first sections of the
// envelopes and Vagueness for the upper bands; the carrier side runs the rest of the envelopes,
// Vagueness for the lower bands, Instrument Clearance, and the carrier band-passes weighted by the
// levels and summed. Where the envelopes
// are cut balances the two as measured: the modulator side runs them whole with Vagueness (which
// is most of the carrier side's work then) and on eight lanes; otherwise the carrier side runs
// their last section.
// Each side works on two neighbouring groups of bands at once, so that two independent chains are
// in flight, as the carrier and the modulator of one group are on one thread.

// The bands each half of a run split by bands takes; with the modulator side, Vagueness for these
// lower bands stays on the carrier side and the modulator side smooths the others.
constexpr int lowerBandCount(int bands) { return bands / 2; }
// Values per frame the modulator side hands over: the levels, or the envelopes as far as it ran
// them, then with Vagueness the upper bands' smoothed levels.
constexpr int handOverStride(int bands) { return bands + (bands - lowerBandCount(bands)); }
static_assert(handOverStride(mostBands) == mostBands + mostBands / 2);

// The envelope sections the modulator side runs, on Width lanes.
constexpr int envelopeSectionsOnModulatorSide(bool smoothing, int width)
{
    return smoothing || width >= 8 ? envelopeSectionCount : 1;
}

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
    {
        const V gainLow = load<Width>(&bands.half(firstBand).gain[laneInHalf(firstBand)]);
        const V gainHigh = load<Width>(&bands.half(secondBand).gain[laneInHalf(secondBand)]);
        GroupPair<Width, 0, firstPassSections> pair;
        pair.load(bands, firstBand);
        for (int t = 0; t < frameCount; ++t) {
            V low = gainLow * modulator[t];
            V high = gainHigh * modulator[t];
            pair.run(bands, firstBand, low, high);
            store<Width>(rows.levels(t) + firstBand, low);
            store<Width>(rows.levels(t) + secondBand, high);
        }
        pair.store(lanes.modulator(), firstBand);
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
    const int bands = rows.bands();
    if (!settings.smoothing) {
        for (int first = 0; first < bands; first += 2 * Width) {
            if (envelopeSectionsOnModulatorSide(false, Width) == envelopeSectionCount)
                modulatorGroupPair<Width, envelopeSectionCount, false>(
                    lanes, rows, first, modulator, frameCount, handOver);
            else
                modulatorGroupPair<Width, 1, false>(
                    lanes, rows, first, modulator, frameCount, handOver);
        }
        return;
    }
    // The levels in the padded rows, so that Vagueness can reach past the bank.
    for (int first = 0; first < bands; first += 2 * Width)
        modulatorGroupPair<Width, envelopeSectionCount, true>(
            lanes, rows, first, modulator, frameCount, handOver);
    silencePadding(rows, settings, 0, frameCount);
    for (int t = 0; t < frameCount; ++t) {
        double* row = handOver + t * handOverStride(bands);
        std::copy_n(rows.levels(t), bands, row);
        LUMIVOX_WITH_PADDED_BANDS(bands,
            (smoothFrame<Width, Bands / 2, Bands>(
                rows.levels(t), row + bands - lowerBandCount(bands), settings)));
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
// from the level rows into the smoothed rows. The upper bands' smoothed levels come from handOver.
template <int Width>
LUMIVOX_INLINE void adjustLevels(
    auto& rows, const BlockSettings& settings, const double* handOver, int frameCount)
{
    double* means = rows.means();
    const int bands = rows.bands();
    const int lower = lowerBandCount(bands);
    if (settings.clearing) {
        sumRows([&rows](int t) { return rows.levels(t); }, settings.bands, 0, frameCount, means);
        for (int t = 0; t < frameCount; ++t)
            means[t] = means[t] / static_cast<double>(settings.bands);
    }
    for (int t = 0; t < frameCount; ++t) {
        const double* row = rows.levels(t);
        double* used = rows.smoothed(t);
        if (settings.smoothing) {
            LUMIVOX_WITH_PADDED_BANDS(
                bands, (smoothFrame<Width, 0, Bands / 2>(row, used, settings)));
            std::copy_n(handOver + t * handOverStride(bands) + bands, bands - lower, used + lower);
            row = used;
        }
        if (settings.clearing) {
            const double pull = settings.clearance * means[t];
            const double keep = 1.0 - settings.clearance;
            for (int i = 0; i < bands; i += Width)
                store<Width>(used + i, pull + keep * load<Width>(row + i));
        }
    }
}

// The carrier band products of two groups over frames [0, frameCount) in the carrier rows, each
// band weighted by its level in levelsOf(t).
template <int Width, typename RowOf>
LUMIVOX_INLINE void carrierGroupPair(BandLanes& lanes, auto& rows, int firstBand,
    const double* carrier, RowOf levelsOf, int frameCount)
{
    using V = Lane<Width>;
    const BandLanes::Cascades& bands = lanes.carrier();
    const int secondBand = firstBand + Width;
    {
        const V gainLow = load<Width>(&bands.half(firstBand).gain[laneInHalf(firstBand)]);
        const V gainHigh = load<Width>(&bands.half(secondBand).gain[laneInHalf(secondBand)]);
        GroupPair<Width, 0, firstPassSections> pair;
        pair.load(bands, firstBand);
        for (int t = 0; t < frameCount; ++t) {
            V low = gainLow * carrier[t];
            V high = gainHigh * carrier[t];
            pair.run(bands, firstBand, low, high);
            store<Width>(rows.carrierBands(t) + firstBand, low);
            store<Width>(rows.carrierBands(t) + secondBand, high);
        }
        pair.store(lanes.carrier(), firstBand);
    }
    {
        constexpr int rest = bandSectionCount - firstPassSections;
        GroupPair<Width, firstPassSections, rest> pair;
        pair.load(bands, firstBand);
        for (int t = 0; t < frameCount; ++t) {
            V low = load<Width>(rows.carrierBands(t) + firstBand);
            V high = load<Width>(rows.carrierBands(t) + secondBand);
            pair.run(bands, firstBand, low, high);
            const double* level = levelsOf(t);
            store<Width>(rows.carrierBands(t) + firstBand, low * load<Width>(level + firstBand));
            store<Width>(rows.carrierBands(t) + secondBand, high * load<Width>(level + secondBand));
        }
        pair.store(lanes.carrier(), firstBand);
    }
}

// The carrier side of frames [0, frameCount), at most the rows' capacity: the levels, the band
// products summed in band order from 0.0, times the gain. The levels the last frame used are left
// where usedLevels finds them.
template <int Width>
LUMIVOX_INLINE void carrierSide(BandLanes& lanes, auto& rows, const BlockSettings& settings,
    const double* carrier, const double* handOver, int frameCount, double* output)
{
    if (envelopeSectionsOnModulatorSide(settings.smoothing, Width) == envelopeSectionCount)
        levelsFromHandOver<Width, envelopeSectionCount>(lanes, rows, handOver, frameCount);
    else
        levelsFromHandOver<Width, 1>(lanes, rows, handOver, frameCount);
    const bool adjusted = settings.smoothing || settings.clearing;
    if (adjusted)
        adjustLevels<Width>(rows, settings, handOver, frameCount);
    const int bands = rows.bands();
    for (int first = 0; first < bands; first += 2 * Width) {
        if (adjusted)
            carrierGroupPair<Width>(
                lanes, rows, first, carrier, [&rows](int t) { return rows.smoothed(t); },
                frameCount);
        else
            carrierGroupPair<Width>(
                lanes, rows, first, carrier, [&rows](int t) { return rows.levels(t); }, frameCount);
    }
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
        (analyseBands<Width, Leaving::Sums>(
            lanes, rows, 0, lowerBandCount(Bands), carrier, modulator, frameCount, sums)));
}

// The upper bands of the same frames, added to the lower bands' sums, times the gain.
template <int Width>
LUMIVOX_INLINE void upperBands(BandLanes& lanes, auto& rows, const double* carrier,
    const double* modulator, int frameCount, const double* lowerSums, double outputGain,
    double* output)
{
    std::copy_n(lowerSums, frameCount, output);
    LUMIVOX_WITH_PADDED_BANDS(rows.bands(),
        (analyseBands<Width, Leaving::Sums>(
            lanes, rows, lowerBandCount(Bands), Bands, carrier, modulator, frameCount, output)));
    for (int t = 0; t < frameCount; ++t)
        output[t] = output[t] * outputGain;
}

#undef LUMIVOX_INLINE

} // namespace lumivox::engine::kernel
