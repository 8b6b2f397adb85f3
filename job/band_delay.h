#pragma once

#include "engine/filter_primitives.h"
#include "engine/filter_response.h"

#include <span>
#include <vector>

namespace lumivox::job {

// How long a band holds a voice back: the group delay of a band-pass cascade, worked out from its
// coefficients, at the sample rate the bank runs at (its bands move in proportion to the rate).

using engine::groupDelaySamples;
using engine::magnitudeAt;

// The frequency at which a band-pass cascade passes most, in hertz at sampleRate.
[[nodiscard]] double bandCentreHertz(const engine::FilterCascade& cascade, double sampleRate);

struct BandDelay {
    double hertz = 0.0; // where it was asked for
    int band = -1; // the band whose centre is nearest (on a musical scale)
    double centreHertz = 0.0; // that band's centre
    double seconds = 0.0; // its group delay at hertz
};

// The delay a voice at hertz meets in the band whose centre is nearest to it; heldBack, when
// given, the frames each band's input is held back by before it (Clarity's band alignment).
[[nodiscard]] BandDelay bandDelayAt(std::span<const engine::FilterCascade> bands, double sampleRate,
    double hertz, std::span<const int> heldBack = {});

} // namespace lumivox::job
