#pragma once

#include <array>

namespace lumivox::engine {

inline constexpr int designedBandSections = 5; // second-order sections of a band-pass
inline constexpr int designedEnvelopeSections = 2; // second-order sections of the envelope low-pass

// Pass-band edges f1 and f2 of one band, in Hz at the rate its filter is designed for.
struct BandEdges {
    double lowHz;
    double highHz;

    friend bool operator==(const BandEdges&, const BandEdges&) = default;
};

// One band's cascade: the gain, then b1, b2, a1, a2 of sections 0 to 4 in processing order.
using BandRow = std::array<double, 1 + 4 * designedBandSections>;
// The envelope low-pass: the gain, then b1, b2, a1, a2 of sections 0 and 1.
using EnvelopeRow = std::array<double, 1 + 4 * designedEnvelopeSections>;

// Designs the band-pass cascade for the pass-band edges at the sample rate: the fixed fifth-order
// elliptic low-pass prototype (1 dB of ripple, 80 dB of stop-band), pre-warped, moved to a
// band-pass, mapped by the bilinear transform, paired into sections and ordered by increasing
// pole radius. Section 0 holds the zeros at 1 and -1 as exactly b1 = 0, b2 = -1; the others have
// b2 = 1 exactly. Edges must lie strictly between 0 and half the rate, the lower below the upper.
BandRow designBandPass(BandEdges edges, double sampleRate);

// Designs the envelope low-pass with its pass-band edge at cutoffHz: the fixed fourth-order
// elliptic prototype (1 dB of ripple, 80 dB of stop-band, -1 dB at zero frequency), pre-warped
// and mapped by the bilinear transform, paired and ordered as the band-passes.
EnvelopeRow designEnvelopeLowPass(double cutoffHz, double sampleRate);

} // namespace lumivox::engine
