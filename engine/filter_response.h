#pragma once

#include "filter_primitives.h"

namespace lumivox::engine {

// A cascade's response at one frequency, worked out from its coefficients; cycles is the
// frequency over the sample rate the cascade runs at.

// The group delay, in samples: how long the cascade holds back what it passes near there.
[[nodiscard]] double groupDelaySamples(const FilterCascade& cascade, double cycles);

// The magnitude, gain included.
[[nodiscard]] double magnitudeAt(const FilterCascade& cascade, double cycles);

} // namespace lumivox::engine
