#include "harmonic_blur.h"

#include <algorithm>
#include <cmath>

namespace lumivox::engine {

HarmonicBlur makeHarmonicBlur(double decay, const BandLayout& layout)
{
    HarmonicBlur blur;
    blur.decay = std::clamp(decay, 0.0, HarmonicBlur::maxDecay); // and 0 for not a number
    if (!(blur.decay > 0.0) || layout.harmonicBandCount() == 0) {
        blur.decay = 0.0;
        return blur;
    }
    blur.bands = layout.harmonicBandCount();
    // The neighbours above the blurred bands as far as their weight reaches leastWeight.
    const auto reach
        = static_cast<int>(std::ceil(std::log(HarmonicBlur::leastWeight) / std::log(blur.decay)));
    blur.span = std::min(layout.bandCount(), blur.bands + reach);

    // The same blur of a row of ones, band by band.
    std::array<double, mostBands> ones;
    std::array<double, mostBands> work;
    ones.fill(1.0);
    HarmonicBlur unscaled = blur;
    unscaled.scale.fill(1.0);
    blurAlongBands<1, double>(
        unscaled, [&ones](int, int i) -> double& { return ones[static_cast<std::size_t>(i)]; },
        work.data());
    for (int i = 0; i < blur.bands; ++i)
        blur.scale[static_cast<std::size_t>(i)] = 1.0 / ones[static_cast<std::size_t>(i)];
    return blur;
}

} // namespace lumivox::engine
