#pragma once

#include "run_report.h"

#include <optional>

namespace lumivox::job {

// A finished run ran out of one input while the other went on.
struct CutShort {
    bool carrierEndedFirst;
    double secondsLeftOut; // of the other input
    bool atLeast = false; // the other input was counted only so far: more of it was left out
};

// What a finished run left out: any part of the modulator when the carrier ended first (the
// voice is cut off), or more than a tenth of a second of the carrier when the modulator did (a
// carrier a little longer than the voice is the usual case). Nothing for other runs. The lengths
// are those read, not those declared.
std::optional<CutShort> cutShortOf(const RunReport& report);

// The highest Output Gain slider position (0..100, 50 for 1×) at which nothing would have clipped.
int clipFreeGainPosition(double clipFreeGain);

} // namespace lumivox::job
