#pragma once

#include "band_layout.h"
#include "engine_constants.h"

#include <array>

namespace lumivox::engine {

// The blur a carrier that follows the voice at another pitch needs in the bands narrower than the
// voice's harmonic spacing (the layout's harmonicBandCount()). Unblurred, each of them holds one
// harmonic of the voice and passes only the carrier's partials near it, so that the output sounds
// at the voice's own pitch. The blur makes each of those levels a mean of its neighbours' with
// weights that fall by a constant factor a band on either side, run as a first-order filter
// upward along the bands and then downward, and divided by the same blur of a row of ones, so a
// flat spectrum stays flat. It runs on the levels the analysis gives, before Vagueness and
// Instrument Clearance, which then work on them as they do on any levels. Bands from
// harmonicBandCount() up keep their levels; those of them within reach count as neighbours.
struct HarmonicBlur {
    double decay = 0.0; // each band's weight over its nearer neighbour's, in [0, maxDecay]
    int bands = 0; // the bands blurred: 0 to bands - 1; 0 when off
    int span = 0; // the bands whose levels count: 0 to span - 1, at least bands
    // 1 over the blur of a row of ones, per blurred band.
    std::array<double, mostBands> scale {};

    static constexpr double maxDecay = 0.95;
    // Neighbours whose weight falls below this share of the band's own are left out.
    static constexpr double leastWeight = 0.02;

    bool on() const { return bands > 0; }
};

// The blur of decay (clamped to [0, maxDecay]; 0 for none) over a layout's harmonic bands.
HarmonicBlur makeHarmonicBlur(double decay, const BandLayout& layout);

// The blur of one frame's levels, or of a few frames' with the frames across the lanes of a
// vector, Count of them side by side so that as many chains of operations are in flight:
// level(g, i) is band i's level in the g-th, work has room for Count times blur.span values.
// Every path of the engine runs its levels through this one function, so the order of its
// operations, and with it every bit, is the same in each lane as in processSample.
template <int Count, typename Value, typename LevelOf>
inline void blurAlongBands(const HarmonicBlur& blur, LevelOf level, Value* work)
{
    // Upward: each band's sum of its own level and the decayed sum below it.
    Value up[Count];
    for (int g = 0; g < Count; ++g) {
        up[g] = level(g, 0);
        work[g] = up[g];
    }
    for (int i = 1; i < blur.span; ++i) {
        for (int g = 0; g < Count; ++g) {
            up[g] = level(g, i) + blur.decay * up[g];
            work[i * Count + g] = up[g];
        }
    }
    // Downward over the upward sums: band j's level reaches band i with the weight
    // decay^|i - j| / (1 - decay^2) far from the ends, which the scale divides out. Only the
    // blurred bands take the result.
    Value down[Count];
    const int top = blur.span - 1;
    for (int g = 0; g < Count; ++g)
        down[g] = work[top * Count + g];
    for (int i = top - 1; i >= blur.bands - 1; --i) {
        for (int g = 0; g < Count; ++g)
            down[g] = work[i * Count + g] + blur.decay * down[g];
    }
    for (int g = 0; g < Count; ++g)
        level(g, blur.bands - 1) = down[g] * blur.scale[static_cast<std::size_t>(blur.bands - 1)];
    for (int i = blur.bands - 2; i >= 0; --i) {
        for (int g = 0; g < Count; ++g) {
            down[g] = work[i * Count + g] + blur.decay * down[g];
            level(g, i) = down[g] * blur.scale[static_cast<std::size_t>(i)];
        }
    }
}

} // namespace lumivox::engine
