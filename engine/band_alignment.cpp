#include "band_alignment.h"

#include "band_layout.h"
#include "filter_bank.h"
#include "filter_response.h"

#include <algorithm>
#include <cmath>

namespace lumivox::engine {

namespace {

    // The bands whose centres lie from here up, where a voice's first formant and most of its
    // loudness begin, are brought into step.
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
    // Each band's delay at its centre; the slowest band from alignedFromHz up sets the pace.
    std::array<double, mostBands> delays {};
    int first = bands;
    int slowest = -1;
    for (int band = 0; band < bands; ++band) {
        const auto b = static_cast<std::size_t>(band);
        const double centre = layout.centreHz(band, rate);
        delays[b] = groupDelaySamples(bank.modulatorBands[b], centre / rate);
        if (centre < alignedFromHz)
            continue;
        first = std::min(first, band);
        if (slowest < 0 || delays[b] > delays[static_cast<std::size_t>(slowest)])
            slowest = band;
    }
    if (slowest < 0)
        return;
    const double target = delays[static_cast<std::size_t>(slowest)];
    const double cap = std::floor(longestSeconds * rate);
    for (int band = first; band < bands; ++band) {
        const auto b = static_cast<std::size_t>(band);
        bandDelays[b] = static_cast<int>(std::clamp(std::round(target - delays[b]), 0.0, cap));
        longest = std::max(longest, bandDelays[b]);
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
