#pragma once

#include "band_layout.h"
#include "filter_primitives.h"

#include <vector>

namespace lumivox::engine {

// The engine's bands: a modulator and a carrier band-pass cascade with the same coefficients, and
// the envelope follower of the modulator band, one of each per band of the layout. Built whole, in
// zero state; nothing changes its shape afterwards.
struct FilterBank {
    // may throw std::bad_alloc, releasing what it made
    explicit FilterBank(const BandLayout& layout = BandLayout::classic());

    std::vector<FilterCascade> modulatorBands;
    std::vector<FilterCascade> carrierBands;
    std::vector<EnvelopeFollower> envelopes;
};

} // namespace lumivox::engine
