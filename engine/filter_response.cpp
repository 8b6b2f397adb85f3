#include "filter_response.h"

#include <complex>
#include <numbers>

namespace lumivox::engine {

namespace {

    using Complex = std::complex<double>;

    // 1 + c1 z^-1 + c2 z^-2 at z = e^(j w), and the same with each term times its power of z^-1:
    // their ratio's real part is the polynomial's own group delay.
    struct Terms {
        Complex value;
        Complex weighted;
    };

    Terms terms(double c1, double c2, double w)
    {
        const Complex z1 = std::polar(1.0, -w);
        const Complex z2 = std::polar(1.0, -2.0 * w);
        return { 1.0 + c1 * z1 + c2 * z2, c1 * z1 + 2.0 * c2 * z2 };
    }

    double polynomialDelay(double c1, double c2, double w)
    {
        const Terms t = terms(c1, c2, w);
        return std::real(t.weighted / t.value);
    }

} // namespace

double groupDelaySamples(const FilterCascade& cascade, double cycles)
{
    const double w = 2.0 * std::numbers::pi * cycles;
    double delay = 0.0;
    for (const BiquadSection& section : cascade.sections)
        delay += polynomialDelay(section.b1, section.b2, w)
            - polynomialDelay(section.a1, section.a2, w);
    return delay;
}

double magnitudeAt(const FilterCascade& cascade, double cycles)
{
    const double w = 2.0 * std::numbers::pi * cycles;
    double magnitude = std::abs(cascade.gain);
    for (const BiquadSection& section : cascade.sections)
        magnitude *= std::abs(terms(section.b1, section.b2, w).value)
            / std::abs(terms(section.a1, section.a2, w).value);
    return magnitude;
}

} // namespace lumivox::engine
