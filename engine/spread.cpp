#include "spread.h"

#include <cstddef>

namespace lumivox::engine {

Spread makeSpread(double vagueness)
{
    Spread spread;
    spread.vagueness = vagueness;

    // w[k] = w[k-1] - (1 - v), floored at 0. For v in [0, 1] this repeated subtraction lands
    // exactly on 1 - k * (1 - v) for every k (the weight tests pin that down); it is kept because
    // it is how the weights have always been made.
    const double step = 1.0 - vagueness;
    spread.weights[0] = 1.0;
    for (std::size_t k = 1; k < spread.weights.size(); ++k) {
        const double weight = spread.weights[k - 1] - step;
        spread.weights[k] = weight < 0.0 ? 0.0 : weight;
    }
    // Weights never increase, so the first 0 ends the reach on both sides.
    while (spread.reach < maxSpread
        && spread.weights[static_cast<std::size_t>(spread.reach) + 1] != 0.0)
        ++spread.reach;

    // Each band's denominator: upward neighbours first, then downward ones, as its numerator.
    for (int band = 0; band < bandCount; ++band) {
        double denominator = 1.0;
        for (int k = 1; k <= spread.reach && band + k < bandCount; ++k)
            denominator += spread.weights[static_cast<std::size_t>(k)];
        for (int k = 1; k <= spread.reach && k <= band; ++k)
            denominator += spread.weights[static_cast<std::size_t>(k)];
        spread.denominators[static_cast<std::size_t>(band)] = denominator;
    }
    return spread;
}

} // namespace lumivox::engine
