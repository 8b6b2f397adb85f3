#pragma once

// The vocoder's arithmetic for a run of frames with the bands side by side in vector lanes. Every
// lane performs exactly the operations processSample performs for its band, in the same order and
// without fused multiply-adds, so the results are the same bits; only sums across bands (which
// processSample forms in band order) are left as ordinary scalar sums in that order.
//
// Everything here is always inlined into one entry function per instruction set, each compiled
// with its own target attribute, so the same source yields an AVX-512, an AVX2 and an SSE2 body.

#include "band_lanes.h"

namespace lumivox::engine::kernel {

// The vector types go through a class template: GCC drops attributes written on alias templates.
template <int Width> struct LaneTypes {
    typedef double Values __attribute__((vector_size(Width * sizeof(double))));
    typedef long long Indices __attribute__((vector_size(Width * sizeof(long long))));
};
template <int Width> using Lane = typename LaneTypes<Width>::Values;
template <int Width> using LaneIndex = typename LaneTypes<Width>::Indices;

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
    const double* weights; // spreadWeights[0..14]
    int spread; // weights 1..spread are non-zero; 0 when Vagueness is off
    bool smoothing; // vagueness > 0
    double clearance;
    bool clearing; // clearance > 0
    double outputGain;
    double bandCount;
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

// Band-pass filtering, envelopes and levels of one group of Width bands over the chunk, with the
// group's filter states held in registers from frame to frame.
template <int Width>
LUMIVOX_INLINE void analyseGroup(
    BandLanes& lanes, int firstBand, const double* carrier, const double* modulator, int frameCount)
{
    constexpr int sections = BandLanes::bandSections;
    constexpr int envelopeSections = BandLanes::envelopeSections;
    using V = Lane<Width>;
    BandLanes::Cascades& mod = lanes.modulator;
    BandLanes::Cascades& car = lanes.carrier;
    BandLanes::Cascades& env = lanes.envelope;

    V modZ1[sections], modZ2[sections], carZ1[sections], carZ2[sections];
    V envZ1[envelopeSections], envZ2[envelopeSections];
    for (int s = 0; s < sections; ++s) {
        modZ1[s] = load<Width>(&mod.z1[s][firstBand]);
        modZ2[s] = load<Width>(&mod.z2[s][firstBand]);
        carZ1[s] = load<Width>(&car.z1[s][firstBand]);
        carZ2[s] = load<Width>(&car.z2[s][firstBand]);
    }
    for (int s = 0; s < envelopeSections; ++s) {
        envZ1[s] = load<Width>(&env.z1[s][firstBand]);
        envZ2[s] = load<Width>(&env.z2[s][firstBand]);
    }
    const V modGain = load<Width>(&mod.gain[firstBand]);
    const V carGain = load<Width>(&car.gain[firstBand]);
    const V envGain = load<Width>(&env.gain[firstBand]);
    const V zero {};

    for (int t = 0; t < frameCount; ++t) {
        V m = modGain * modulator[t];
        for (int s = 0; s < sections; ++s)
            m = section<Width>(m, modZ1[s], modZ2[s], load<Width>(&mod.b1[s][firstBand]),
                load<Width>(&mod.b2[s][firstBand]), load<Width>(&mod.a1[s][firstBand]),
                load<Width>(&mod.a2[s][firstBand]));

        const V rectified = m >= zero ? m : -m;
        V e = envGain * rectified;
        for (int s = 0; s < envelopeSections; ++s)
            e = section<Width>(e, envZ1[s], envZ2[s], load<Width>(&env.b1[s][firstBand]),
                load<Width>(&env.b2[s][firstBand]), load<Width>(&env.a1[s][firstBand]),
                load<Width>(&env.a2[s][firstBand]));
        store<Width>(&lanes.levels[t][BandLanes::levelPad + firstBand], e * 32.767);

        V c = carGain * carrier[t];
        for (int s = 0; s < sections; ++s)
            c = section<Width>(c, carZ1[s], carZ2[s], load<Width>(&car.b1[s][firstBand]),
                load<Width>(&car.b2[s][firstBand]), load<Width>(&car.a1[s][firstBand]),
                load<Width>(&car.a2[s][firstBand]));
        store<Width>(&lanes.carrierBands[t][firstBand], c);
    }

    for (int s = 0; s < sections; ++s) {
        store<Width>(&mod.z1[s][firstBand], modZ1[s]);
        store<Width>(&mod.z2[s][firstBand], modZ2[s]);
        store<Width>(&car.z1[s][firstBand], carZ1[s]);
        store<Width>(&car.z2[s][firstBand], carZ2[s]);
    }
    for (int s = 0; s < envelopeSections; ++s) {
        store<Width>(&env.z1[s][firstBand], envZ1[s]);
        store<Width>(&env.z2[s][firstBand], envZ2[s]);
    }
}

// Sums of 32 values per frame, each in band order starting from 0.0 as processSample forms them;
// eight frames at a time, so that eight independent chains of additions keep the adders busy.
LUMIVOX_INLINE void sumRows(const double* rows, int rowStride, int frameCount, double* sums)
{
    constexpr int chains = 8;
    int t = 0;
    for (; t + chains <= frameCount; t += chains) {
        double partial[chains] = {};
        for (int i = 0; i < BandLanes::bands; ++i) {
            for (int c = 0; c < chains; ++c)
                partial[c] += rows[(t + c) * rowStride + i];
        }
        for (int c = 0; c < chains; ++c)
            sums[t + c] = partial[c];
    }
    for (; t < frameCount; ++t) {
        const double* row = rows + t * rowStride;
        double sum = 0.0;
        for (int i = 0; i < BandLanes::bands; ++i)
            sum += row[i];
        sums[t] = sum;
    }
}

// Vagueness for one frame: each band's weighted mean of itself and its neighbours, numerators
// built upward first and then downward, exactly as processSample builds them. Lanes whose
// neighbour lies outside the bank keep their numerator unchanged.
template <int Width>
LUMIVOX_INLINE void smoothFrame(BandLanes& lanes, const BlockSettings& settings, int t)
{
    using V = Lane<Width>;
    using I = LaneIndex<Width>;
    const double* row = &lanes.levels[t][BandLanes::levelPad];
    I laneOffsets;
    for (int j = 0; j < Width; ++j)
        laneOffsets[j] = j;

    for (int first = 0; first < BandLanes::bands; first += Width) {
        const I band = laneOffsets + first;
        V numerator = load<Width>(row + first);
        for (int k = 1; k <= settings.spread; ++k) {
            const V term = settings.weights[k] * load<Width>(row + first + k);
            if (first + Width - 1 + k < BandLanes::bands)
                numerator = numerator + term;
            else
                numerator = band + k < BandLanes::bands ? numerator + term : numerator;
        }
        for (int k = 1; k <= settings.spread; ++k) {
            const V term = settings.weights[k] * load<Width>(row + first - k);
            if (first - k >= 0)
                numerator = numerator + term;
            else
                numerator = band - k >= 0 ? numerator + term : numerator;
        }
        store<Width>(
            &lanes.smoothed[t][first], numerator / load<Width>(&lanes.denominators[first]));
    }
}

template <int Width> LUMIVOX_INLINE void clearFrame(double* levels, double clearance, double mean)
{
    const double pull = clearance * mean;
    const double keep = 1.0 - clearance;
    for (int first = 0; first < BandLanes::bands; first += Width)
        store<Width>(levels + first, pull + keep * load<Width>(levels + first));
}

// One chunk of at most BandLanes::chunkFrames frames.
template <int Width>
LUMIVOX_INLINE void runChunk(BandLanes& lanes, const BlockSettings& settings, const double* carrier,
    const double* modulator, double* output, int frameCount)
{
    for (int first = 0; first < BandLanes::bands; first += Width)
        analyseGroup<Width>(lanes, first, carrier, modulator, frameCount);

    sumRows(&lanes.levels[0][BandLanes::levelPad], BandLanes::levelRow, frameCount, lanes.means);
    for (int t = 0; t < frameCount; ++t)
        lanes.means[t] = lanes.means[t] / settings.bandCount;

    for (int t = 0; t < frameCount; ++t) {
        double* levels = &lanes.levels[t][BandLanes::levelPad];
        if (settings.smoothing) {
            smoothFrame<Width>(lanes, settings, t);
            levels = lanes.smoothed[t];
        }
        if (settings.clearing)
            clearFrame<Width>(levels, settings.clearance, lanes.means[t]);
        double* products = lanes.carrierBands[t];
        for (int first = 0; first < BandLanes::bands; first += Width)
            store<Width>(
                products + first, load<Width>(products + first) * load<Width>(levels + first));
    }

    sumRows(&lanes.carrierBands[0][0], BandLanes::bands, frameCount, output);
    for (int t = 0; t < frameCount; ++t)
        output[t] = output[t] * settings.outputGain;
}

template <int Width>
LUMIVOX_INLINE void runBlock(BandLanes& lanes, const BlockSettings& settings, const double* carrier,
    const double* modulator, double* output, long frameCount)
{
    while (frameCount > 0) {
        const int chunk = frameCount < BandLanes::chunkFrames ? static_cast<int>(frameCount)
                                                              : BandLanes::chunkFrames;
        runChunk<Width>(lanes, settings, carrier, modulator, output, chunk);
        carrier += chunk;
        modulator += chunk;
        output += chunk;
        frameCount -= chunk;
    }
}

#undef LUMIVOX_INLINE

} // namespace lumivox::engine::kernel
