#pragma once

#include "filter_primitives.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace lumivox::engine::testing {

inline constexpr double designRate = 44100.0;

// The bilinear warp of a frequency in Hz at a rate, and back.
inline double warp(double hertz, double rate) { return std::tan(std::numbers::pi * hertz / rate); }
inline double unwarp(double omega, double rate)
{
    return std::atan(omega) * rate / std::numbers::pi;
}

// The frequency in Hz where a band-pass with these pass-band edges maps the low-pass prototype's
// frequency lambda (either sign).
inline double imageHz(double lowHz, double highHz, double rate, double lambda)
{
    const double omega1 = warp(lowHz, rate);
    const double omega2 = warp(highHz, rate);
    const double lb = lambda * (omega2 - omega1);
    return unwarp((lb + std::sqrt(lb * lb + 4.0 * omega1 * omega2)) / 2.0, rate);
}

// The prototype's stop-band edge: where the classic band 18 (999 to 1221 Hz at 44100 Hz) is first
// 80 dB down, below 862 Hz and above 1415 Hz.
inline double prototypeStopEdge()
{
    const double omega1 = warp(999.0, designRate);
    const double omega2 = warp(1221.0, designRate);
    const auto lambda = [&](double hertz) {
        const double omega = warp(hertz, designRate);
        return std::abs((omega * omega - omega1 * omega2) / ((omega2 - omega1) * omega));
    };
    return std::max(lambda(862.0), lambda(1415.0));
}

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
