#pragma once

#include "engine_constants.h"

#include <array>

namespace lumivox::engine {

// The Vagueness setting as the smoothing step uses it: each neighbour's weight by its distance,
// how far the non-zero weights reach, and the sum of the weights each band's mean divides by.
// Both the per-sample and the block path smooth with these same numbers.
struct Spread {
    double vagueness = 0.0; // in [0, 1]
    std::array<double, maxSpread + 1> weights {}; // weights[0] is 1; never increasing
    int reach = 0; // weights 1 to reach are non-zero, the rest are 0
    std::array<double, bandCount> denominators {}; // 1 plus the weights each band uses, in order
};

// The spread for a Vagueness already clamped to [0, 1].
Spread makeSpread(double vagueness);

} // namespace lumivox::engine
