#pragma once

#include "engine_constants.h"

#include <span>

namespace lumivox::engine {

// The fixed coefficients of the bank, designed for 44100 Hz; at other rates every band moves in
// proportion to the rate.
inline constexpr int bandRowSize = 1 + 4 * bandSectionCount; // gain, then b1 b2 a1 a2 per section
inline constexpr int bandTableSize = classicBandCount * bandRowSize;
inline constexpr int envelopeTableSize = 1 + 4 * envelopeSectionCount;

// Band k's row starts at k * bandRowSize: the cascade gain, then b1, b2, a1, a2 of sections 0 to 4.
std::span<const double, bandTableSize> bandCoefficients();

// The envelope low-pass: its gain, then b1, b2, a1, a2 of sections 0 and 1.
std::span<const double, envelopeTableSize> envelopeCoefficients();

// Copies one row of a table into a cascade of the matching size: gain, then four values a section.
struct FilterCascade;
void loadCoefficients(FilterCascade& cascade, std::span<const double> row);

} // namespace lumivox::engine
