#include "spread.h"

#include <algorithm>
#include <cstddef>

namespace lumivox::engine {

namespace {

    using Weights = std::array<double, maxSpread + 1>;

    // w[k] = w[k-1] - (1 - v), floored at 0. For v in [0, 1] this repeated subtraction lands
    // exactly on 1 - k * (1 - v) for every k (the weight tests pin that down); it is kept because
    // it is how the weights have always been made.
    Weights weightsFor(double vagueness)
    {
        Weights weights {};
        const double step = 1.0 - vagueness;
        weights[0] = 1.0;
        for (std::size_t k = 1; k < weights.size(); ++k) {
            const double weight = weights[k - 1] - step;
            weights[k] = weight < 0.0 ? 0.0 : weight;
        }
        return weights;
    }

    // Weights never increase, so the first 0 ends the reach on both sides.
    int reachOf(const Weights& weights)
    {
        int reach = 0;
        while (reach < maxSpread && weights[static_cast<std::size_t>(reach) + 1] != 0.0)
            ++reach;
        return reach;
    }

} // namespace

Spread makeSpread(double vagueness, double harmonicBandVagueness)
{
    Spread spread;
    spread.vagueness = vagueness;
    spread.harmonicBandVagueness = harmonicBandVagueness;
    spread.weights = weightsFor(vagueness);
    // Weights grow with the Vagueness, so the larger of the two gives the larger weights, and the
    // harmonic bands reach at least as far as the others.
    const Weights harmonicWeights = weightsFor(std::max(vagueness, harmonicBandVagueness));
    spread.reach = reachOf(harmonicWeights);

    for (int band = 0; band < bandCount; ++band) {
        const Weights& own = band < harmonicBandCount ? harmonicWeights : spread.weights;
        for (int k = 0; k <= maxSpread; ++k) {
            const double weight = own[static_cast<std::size_t>(k)];
            spread.bandWeights[static_cast<std::size_t>(k * bandCount + band)] = weight;
            if (k >= 1 && k <= spread.reach && weight != 1.0)
                spread.weightsAllOne = false;
        }
    }

    // Each band's denominator: upward neighbours first, then downward ones, as its numerator.
    for (int band = 0; band < bandCount; ++band) {
        const auto weight = [&](int k) {
            return spread.bandWeights[static_cast<std::size_t>(k * bandCount + band)];
        };
        double denominator = 1.0;
        for (int k = 1; k <= spread.reach && band + k < bandCount; ++k)
            denominator += weight(k);
        for (int k = 1; k <= spread.reach && k <= band; ++k)
            denominator += weight(k);
        spread.denominators[static_cast<std::size_t>(band)] = denominator;
    }
    return spread;
}

} // namespace lumivox::engine
