#pragma once

#include "filter_primitives.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace lumivox::engine::testing {

inline constexpr double designRate = 44100.0;

// 1 + c1 z^-1 + c2 z^-2 on the unit circle at the angle omega, written as
// (1 - w)^2 + (c1 + 2) w + (c2 - 1) w^2 with w = e^(-j omega). Near zero frequency the
// plain form cancels to a few parts in 1e8 for the lowest bands; this form keeps full precision.
inline std::complex<double> sectionPolynomial(double c1, double c2, double omega)
{
    const std::complex<double> w = std::polar(1.0, -omega);
    const double halfSine = std::sin(omega / 2.0);
    const std::complex<double> oneMinusW { 2.0 * halfSine * halfSine, std::sin(omega) };
    return oneMinusW * oneMinusW + (c1 + 2.0) * w + (c2 - 1.0) * w * w;
}

// The cascade's transfer function at a frequency in Hz for a rate, evaluated from its
// coefficients.
inline std::complex<double> response(
    const FilterCascade& cascade, double hertz, double sampleRate = designRate)
{
    const double omega = 2.0 * std::numbers::pi * hertz / sampleRate;
    std::complex<double> h = cascade.gain;
    for (const BiquadSection& s : cascade.sections)
        h *= sectionPolynomial(s.b1, s.b2, omega) / sectionPolynomial(s.a1, s.a2, omega);
    return h;
}

inline double magnitude(const FilterCascade& cascade, double hertz, double sampleRate = designRate)
{
    return std::abs(response(cascade, hertz, sampleRate));
}

inline double fromDecibels(double decibels) { return std::pow(10.0, decibels / 20.0); }

// gain times the product of (1 + b1 + b2) / (1 + a1 + a2).
inline double zeroFrequencyGain(const FilterCascade& cascade)
{
    double g = cascade.gain;
    for (const BiquadSection& s : cascade.sections)
        g *= (1.0 + s.b1 + s.b2) / (1.0 + s.a1 + s.a2);
    return g;
}

} // namespace lumivox::engine::testing
