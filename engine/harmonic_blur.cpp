#include "harmonic_blur.h"

#include <algorithm>

namespace lumivox::engine {

HarmonicBlur makeHarmonicBlur(int radius, const BandLayout& layout)
{
    HarmonicBlur blur;
    blur.radius = std::clamp(radius, 0, HarmonicBlur::maxRadius);
    if (blur.radius == 0 || layout.harmonicBandCount() == 0) {
        blur.radius = 0;
        return blur;
    }
    blur.bands = layout.harmonicBandCount();
    blur.span = std::min(layout.bandCount(), blur.bands + 2 * blur.radius);

    // The same blur of a row of ones, band by band.
    std::array<double, mostBands> ones;
    std::array<double, HarmonicBlur::workValues(mostBands)> work;
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
