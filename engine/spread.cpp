#include "spread.h"

#include <algorithm>
#include <cstddef>

namespace lumivox::engine {

namespace {

    using Weights = std::array<double, maxSpread + 1>;

    // w[k] = w[k-1] - step, floored at 0, up to the layout's reach. With the classic reach the
    // step is 1 - v (times exactly 1), and for v in [0, 1] this repeated subtraction lands exactly
    // on 1 - k * (1 - v) for every k (the weight tests pin that down); it is kept because it is
    // how the weights have always been made. A layout with fewer bands falls faster, over the
    // same share of its bands; one with more falls by 1 - v a band, as the classic one does, so
    // that no Vagueness blurs no band (a slower fall would give the nearest neighbours weight at
    // Vagueness 0), and full Vagueness still reaches the same share of its bands.
    Weights weightsFor(double vagueness, int layoutReach)
    {
        Weights weights {};
        const double step
            = (1.0 - vagueness) * std::max(1.0, classicSpread / static_cast<double>(layoutReach));
        weights[0] = 1.0;
        for (std::size_t k = 1; k <= static_cast<std::size_t>(layoutReach); ++k) {
            const double weight = weights[k - 1] - step;
            weights[k] = weight < 0.0 ? 0.0 : weight;
        }
        return weights;
    }

    // Weights never increase, so the first 0 ends the reach on both sides.
    int reachOf(const Weights& weights, int layoutReach)
    {
        int reach = 0;
        while (reach < layoutReach && weights[static_cast<std::size_t>(reach) + 1] != 0.0)
            ++reach;
        return reach;
    }

} // namespace

Spread makeSpread(double vagueness, const BandLayout& layout)
{
    Spread spread;
    spread.vagueness = vagueness;
    spread.bands = layout.bandCount();
    spread.stride = paddedBandCount(spread.bands);
    spread.layoutReach = layout.spreadReach();
    spread.weights = weightsFor(vagueness, spread.layoutReach);
    spread.reach = reachOf(spread.weights, spread.layoutReach);

    const int bands = spread.bands;
    const int stride = spread.stride;
    const auto at
        = [stride](int k, int band) { return static_cast<std::size_t>(k * stride + band); };
    for (int band = 0; band < bands; ++band) {
        for (int k = 0; k <= spread.layoutReach; ++k) {
            const double weight = spread.weights[static_cast<std::size_t>(k)];
            spread.bandWeights[at(k, band)] = weight;
            if (k >= 1 && k <= spread.reach && weight != 1.0)
                spread.weightsAllOne = false;
        }
    }

    // Each band's denominator: upward neighbours first, then downward ones, as its numerator.
    std::ranges::fill(spread.denominators, 1.0);
    for (int band = 0; band < bands; ++band) {
        const auto weight = [&](int k) { return spread.bandWeights[at(k, band)]; };
        double denominator = 1.0;
        for (int k = 1; k <= spread.reach && band + k < bands; ++k)
            denominator += weight(k);
        for (int k = 1; k <= spread.reach && k <= band; ++k)
            denominator += weight(k);
        spread.denominators[static_cast<std::size_t>(band)] = denominator;
    }
    return spread;
}

} // namespace lumivox::engine
