#pragma once

#include "engine_constants.h"

#include <array>

namespace lumivox::engine {

// The bands narrower than 250 Hz (bands 0 to 18, up to 1221 Hz): narrower than the spacing of a
// voice's harmonics, so that each holds one harmonic at most and its level follows that harmonic
// rather than the voice's spectral envelope.
inline constexpr int harmonicBandCount = 19;

// The Vagueness setting as the smoothing step uses it: each neighbour's weight by its distance and
// band, how far the non-zero weights reach, and the sum of the weights each band's mean divides
// by. Both the per-sample and the block path smooth with these same numbers.
struct Spread {
    double vagueness = 0.0; // in [0, 1]
    double harmonicBandVagueness = 0.0; // the least Vagueness of the harmonic bands, in [0, 1]
    std::array<double, maxSpread + 1> weights {}; // Vagueness's: weights[0] is 1; never increasing
    // What band i gives its neighbours k bands away: bandWeights[k * bandCount + i]. The weights
    // of Vagueness, or in the harmonic bands those of harmonicBandVagueness where that is more.
    std::array<double, (maxSpread + 1) * bandCount> bandWeights {};
    int reach = 0; // in no band are weights beyond reach non-zero
    bool weightsAllOne = true; // every band's weights 1 to reach are exactly 1
    std::array<double, bandCount> denominators {}; // 1 plus the weights each band uses, in order
};

// Whether the smoothing step changes any level: some Vagueness, or weights somewhere.
inline bool smooths(const Spread& spread) { return spread.vagueness > 0.0 || spread.reach > 0; }

// The spread for a Vagueness and a least Vagueness of the harmonic bands, both already clamped to
// [0, 1]. With the second at 0 every band has the same weights.
Spread makeSpread(double vagueness, double harmonicBandVagueness = 0.0);

} // namespace lumivox::engine
