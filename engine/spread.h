#pragma once

#include "band_layout.h"
#include "engine_constants.h"

#include <array>
#include <span>

namespace lumivox::engine {

// The Vagueness setting as the smoothing step uses it: each neighbour's weight by its distance and
// band, how far the non-zero weights reach, and the sum of the weights each band's mean divides
// by. Both the per-sample and the block path smooth with these same numbers.
struct Spread {
    double vagueness = 0.0; // in [0, 1]
    int bands = classicBandCount; // the layout's bands
    int stride = classicBandCount; // the padded bank's bands, the row length of bandWeights
    int layoutReach = classicSpread; // the farthest any weight can reach in this layout
    // Vagueness's weights: weights[0] is 1; never increasing; 0 beyond layoutReach.
    std::array<double, maxSpread + 1> weights {};
    // What band i gives its neighbours k bands away: bandWeights[k * stride + i]. The weights of
    // Vagueness in every band of the layout; 0 for the padding.
    std::array<double, (maxSpread + 1) * mostBands> bandWeights {};
    int reach = 0; // in no band are weights beyond reach non-zero
    bool weightsAllOne = true; // every band's weights 1 to reach are exactly 1
    // 1 plus the weights each band uses, in order; 1 for the padding.
    std::array<double, mostBands> denominators {};

    // Vagueness's weights from distance 0 to the layout's reach.
    std::span<const double> layoutWeights() const
    {
        return std::span<const double>(weights).first(static_cast<std::size_t>(layoutReach) + 1);
    }
};

// Whether the smoothing step changes any level: some Vagueness, or weights somewhere.
inline bool smooths(const Spread& spread) { return spread.vagueness > 0.0 || spread.reach > 0; }

// The spread over a layout's bands for a Vagueness already clamped to [0, 1]. At full Vagueness
// every weight up to the layout's reach is 1; the classic layout's weights fall by 1 - Vagueness a
// band, the others' by the same over the same share of their bands.
Spread makeSpread(double vagueness, const BandLayout& layout);

} // namespace lumivox::engine
