#include "band_alignment.h"

#include "band_layout.h"
#include "filter_bank.h"
#include "filter_response.h"

#include <algorithm>
#include <cmath>

namespace lumivox::engine {

namespace {

    // The band whose delay the bands above it are brought to: the one nearest this on a musical
    // scale, where a voice's first formant and most of its loudness begin.
    constexpr double alignedFromHz = 300.0;
    // No band is held back longer than this, whatever the layout.
    constexpr double longestSeconds = 0.05;

} // namespace

BandAlignment::BandAlignment(const BandLayout& layout, const FilterBank& bank)
{
    if (layout.isClassic() || layout.bandCount() < 2)
        return;
    const double rate = layout.designRate();
    const int bands = layout.bandCount();
    std::array<double, mostBands> delays {};
    int reference = 0;
    for (int band = 0; band < bands; ++band) {
        const double centre = layout.centreHz(band, rate);
        delays[static_cast<std::size_t>(band)]
            = groupDelaySamples(bank.modulatorBands[static_cast<std::size_t>(band)], centre / rate);
        if (std::abs(std::log2(centre / alignedFromHz))
            < std::abs(std::log2(layout.centreHz(reference, rate) / alignedFromHz)))
            reference = band;
    }
    const double target = delays[static_cast<std::size_t>(reference)];
    const double cap = std::floor(longestSeconds * rate);
    for (int band = reference + 1; band < bands; ++band) {
        const double lag = std::clamp(
            std::round(target - delays[static_cast<std::size_t>(band)]), 0.0, cap);
        bandDelays[static_cast<std::size_t>(band)] = static_cast<int>(lag);
        longest = std::max(longest, bandDelays[static_cast<std::size_t>(band)]);
    }
    past.assign(static_cast<std::size_t>(longest), 0.0);
}

void BandAlignment::setActive(bool active)
{
    active = active && longest > 0;
    if (active && !on) {
        std::fill(past.begin(), past.end(), 0.0);
        next = 0;
    }
    on = active;
}

void BandAlignment::copyPast(double* into) const
{
    const auto oldest = past.begin() + next;
    into = std::copy(oldest, past.end(), into);
    std::copy(past.begin(), oldest, into);
}

void BandAlignment::keepPast(const double* from)
{
    std::copy_n(from, longest, past.begin());
    next = 0;
}

} // namespace lumivox::engine
