#pragma once

// The block path's vocabulary: vectors of doubles with the bands (or the frames) side by side in
// their lanes, the work area of a run of frames with its band count as a constant, the settings of
// a block and the fixed-order sums that every stage shares.
//
// Every lane performs the operations processSample performs for its band, in the same order and
// without fused multiply-adds, so the results are the same bits. Sums across bands, which
// processSample forms in band order, are formed in that order either as scalar sums or with frames
// across the lanes.
//
// Everything in the kernel headers is always inlined into the entry functions of each instruction
// set, each compiled with its own target attribute, so the same source yields an AVX-512, an AVX2
// and an SSE2 body.

#include "band_lanes.h"
#include "carrier_levelling.h"
#include "harmonic_blur.h"

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
    static_assert(Width == 2 || Width == 4 || Width == 8, "frames go across 2, 4 or 8 lanes");
    using V = Lane<Width>;
    if constexpr (Width == 8) {
        // Pairs of neighbouring lanes, then pairs of pairs, then halves.
        V pairs[8];
        for (int r = 0; r < 8; r += 2) {
            pairs[r] = __builtin_shufflevector(rows[r], rows[r + 1], 0, 8, 2, 10, 4, 12, 6, 14);
            pairs[r + 1] = __builtin_shufflevector(rows[r], rows[r + 1], 1, 9, 3, 11, 5, 13, 7, 15);
        }
        V quads[8];
        for (int r = 0; r < 8; r += 4) {
            for (int odd = 0; odd < 2; ++odd) {
                quads[r + odd] = __builtin_shufflevector(
                    pairs[r + odd], pairs[r + 2 + odd], 0, 1, 8, 9, 4, 5, 12, 13);
                quads[r + 2 + odd] = __builtin_shufflevector(
                    pairs[r + odd], pairs[r + 2 + odd], 2, 3, 10, 11, 6, 7, 14, 15);
            }
        }
        for (int column = 0; column < 4; ++column) {
            rows[column] = __builtin_shufflevector(
                quads[column], quads[4 + column], 0, 1, 2, 3, 8, 9, 10, 11);
            rows[4 + column] = __builtin_shufflevector(
                quads[column], quads[4 + column], 4, 5, 6, 7, 12, 13, 14, 15);
        }
    } else if constexpr (Width == 2) {
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

// An input as a group of bands takes it in frame t: the same sample in every lane, or with
// Clarity's band alignment each lane's own, from as many frames back as its band's delay.
struct SameInput {
    const double* input;

    LUMIVOX_INLINE double operator()(int t) const { return input[t]; }
};

template <int Width> struct DelayedInput {
    const double* from[Width];

    LUMIVOX_INLINE DelayedInput(const double* input, const int* delays, int firstBand)
    {
        for (int j = 0; j < Width; ++j)
            from[j] = input - delays[firstBand + j];
    }
    LUMIVOX_INLINE Lane<Width> operator()(int t) const
    {
        Lane<Width> lanes;
        for (int j = 0; j < Width; ++j)
            lanes[j] = from[j][t];
        return lanes;
    }
};

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
    const HarmonicBlur* blur;
    bool blurring; // the harmonic bands are blurred
    double clearance;
    bool clearing; // clearance > 0
    double outputGain;
    // Clarity's levelling of the carrier bands, when it is on (null when off).
    CarrierLevelling* levelling;
    // Clarity's band alignment is on: the modulator comes with its past (see BandLanes).
    bool aligning;
};

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
        : live(rows.liveBands())
        , levelsBase(rows.levels(0))
        , carrierBase(rows.carrierBands(0))
        , smoothedBase(rows.smoothed(0))
        , meansBase(rows.means())
    {
    }

    static constexpr int bands() { return Bands; }
    // The lanes that hold some of the bank's own bands, in whole groups of Width.
    template <int Width> int liveLanes() const
    {
        return std::min(Bands, (live + Width - 1) / Width * Width);
    }
    double* levels(int frame) const { return levelsBase + frame * levelStride; }
    double* carrierBands(int frame) const { return carrierBase + frame * Bands; }
    double* smoothed(int frame) const { return smoothedBase + frame * Bands; }
    double* means() const { return meansBase; }

private:
    int live;
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

// The sum of count values per frame, in band order starting from 0.0 as processSample forms it.
template <typename RowOf>
LUMIVOX_INLINE void sumRows(RowOf row, int count, int first, int end, double* sums)
{
    for (int t = first; t < end; ++t)
        sums[t] = 0.0;
    addRows(row, 0, count, first, end, sums);
}

} // namespace lumivox::engine::kernel
