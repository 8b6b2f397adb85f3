#pragma once

#include "filter_primitives.h"

#include <vector>

namespace lumivox::engine {

// The engine's 32 bands: a modulator and a carrier band-pass cascade with the same coefficients,
// and the envelope follower of the modulator band. Built whole, in zero state, with the fixed
// coefficients; nothing changes its shape afterwards.
struct FilterBank {
    FilterBank(); // may throw std::bad_alloc, releasing what it made

    std::vector<FilterCascade> modulatorBands;
    std::vector<FilterCascade> carrierBands;
    std::vector<EnvelopeFollower> envelopes;
};

} // namespace lumivox::engine
