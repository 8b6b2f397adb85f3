#pragma once

#include "band_layout.h"
#include "engine_constants.h"

#include <algorithm>
#include <array>

namespace lumivox::engine {

// The blur a carrier that follows the voice at another pitch needs in the bands narrower than the
// voice's harmonic spacing (the layout's harmonicBandCount()). Unblurred, each of them holds one
// harmonic of the voice and passes only the carrier's partials near it, so that the output sounds
// at the voice's own pitch. The blur makes each of those levels a mean of its neighbours' within
// 2 x radius bands, with weights that fall in a straight line from the band's own, as
// 2 x radius + 1 - distance: a sum over radius bands either side, summed again in the same way,
// each sum taken as the difference of two running sums along the bands. It is divided by the same
// blur of a row of ones, so that a flat spectrum stays flat at the ends of the bank too. It runs
// on the levels the analysis gives, before Vagueness and Instrument Clearance, which then work on
// them as they do on any levels. Bands from harmonicBandCount() up keep their levels; those of
// them within reach count as neighbours.
struct HarmonicBlur {
    int radius = 0; // the reach of each of the two sums, in bands, in [0, maxRadius]
    int bands = 0; // the bands blurred: 0 to bands - 1; 0 when off
    int span = 0; // the bands whose levels count: 0 to span - 1, at least bands
    // 1 over the blur of a row of ones, per blurred band.
    std::array<double, mostBands> scale {};

    static constexpr int maxRadius = 8;
    // The values blurAlongBands keeps per frame at most, in a bank of that many bands.
    static constexpr int workValues(int bankBands) { return 2 * bankBands + 2 * maxRadius; }

    bool on() const { return bands > 0; }
};

// The blur of radius (clamped to [0, maxRadius]; 0 for none) over a layout's harmonic bands.
HarmonicBlur makeHarmonicBlur(int radius, const BandLayout& layout);

// The blur of one frame's levels, or of a few frames' with the frames across the lanes of a
// vector, Count of them side by side so that as many chains of operations are in flight:
// level(g, i) is band i's level in the g-th, work has room for Count times workValues(bands)
// values for a bank of that many bands. Every path of the engine runs its levels through this one
// function, so the order of its operations, and with it every bit, is the same in each lane as
// in processSample.
template <int Count, typename Value, typename LevelOf>
inline void blurAlongBands(const HarmonicBlur& blur, LevelOf level, Value* work)
{
    const int r = blur.radius;
    const int span = blur.span;
    // The running sums of the levels from band 0, band by band.
    Value* sums = work;
    for (int g = 0; g < Count; ++g)
        sums[g] = level(g, 0);
    for (int i = 1; i < span; ++i) {
        for (int g = 0; g < Count; ++g)
            sums[i * Count + g] = sums[(i - 1) * Count + g] + level(g, i);
    }
    // The running sums, from band -r as far as the blurred bands reach, of the sums of the levels
    // within r bands of band j (which may lie outside the bank).
    const int first = -r;
    Value* twice = sums + span * Count;
    Value running[Count];
    for (int g = 0; g < Count; ++g)
        running[g] = Value {};
    for (int j = first; j < blur.bands + r; ++j) {
        const int top = std::min(j + r, span - 1);
        const int below = j - r - 1;
        for (int g = 0; g < Count; ++g) {
            Value near = sums[top * Count + g];
            if (below >= 0)
                near = near - sums[below * Count + g];
            running[g] = running[g] + near;
            twice[(j - first) * Count + g] = running[g];
        }
    }
    // Each blurred band's sum of the sums within r bands of it.
    for (int i = 0; i < blur.bands; ++i) {
        const double scale = blur.scale[static_cast<std::size_t>(i)];
        for (int g = 0; g < Count; ++g) {
            const Value upper = twice[(i + r - first) * Count + g];
            const Value both = i >= 1 ? upper - twice[(i - r - 1 - first) * Count + g] : upper;
            level(g, i) = both * scale;
        }
    }
}

} // namespace lumivox::engine
