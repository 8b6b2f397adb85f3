#include "band_delay.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace lumivox::job {

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

double groupDelaySamples(const engine::FilterCascade& cascade, double cycles)
{
    const double w = 2.0 * std::numbers::pi * cycles;
    double delay = 0.0;
    for (const engine::BiquadSection& section : cascade.sections)
        delay += polynomialDelay(section.b1, section.b2, w)
            - polynomialDelay(section.a1, section.a2, w);
    return delay;
}

double magnitudeAt(const engine::FilterCascade& cascade, double cycles)
{
    const double w = 2.0 * std::numbers::pi * cycles;
    double magnitude = std::abs(cascade.gain);
    for (const engine::BiquadSection& section : cascade.sections)
        magnitude *= std::abs(terms(section.b1, section.b2, w).value)
            / std::abs(terms(section.a1, section.a2, w).value);
    return magnitude;
}

double bandCentreHertz(const engine::FilterCascade& cascade, double sampleRate)
{
    // The band's edges are where it passes 3 dB less than at its loudest; its centre lies midway
    // between them on a musical scale. (A band-pass with ripple in its pass band is loudest on a
    // ripple, anywhere within the band, so the loudest frequency is not the centre.)
    const double lowest = 10.0;
    const double highest = 0.49 * sampleRate;
    const double step = std::pow(2.0, 1.0 / 384.0);
    std::vector<double> hertz;
    std::vector<double> magnitudes;
    for (double f = lowest; f < highest; f *= step) {
        hertz.push_back(f);
        magnitudes.push_back(magnitudeAt(cascade, f / sampleRate));
    }
    const auto loudest = static_cast<std::size_t>(
        std::max_element(magnitudes.begin(), magnitudes.end()) - magnitudes.begin());
    const double edge = magnitudes[loudest] / std::sqrt(2.0);
    std::size_t low = loudest;
    while (low > 0 && magnitudes[low - 1] >= edge)
        --low;
    std::size_t high = loudest;
    while (high + 1 < magnitudes.size() && magnitudes[high + 1] >= edge)
        ++high;
    return std::sqrt(hertz[low] * hertz[high]);
}

BandDelay bandDelayAt(std::span<const engine::FilterCascade> bands, double sampleRate, double hertz)
{
    BandDelay result;
    result.hertz = hertz;
    double nearest = 0.0;
    for (std::size_t band = 0; band < bands.size(); ++band) {
        const double centre = bandCentreHertz(bands[band], sampleRate);
        const double distance = std::abs(std::log2(centre / hertz));
        if (result.band < 0 || distance < nearest) {
            nearest = distance;
            result.band = static_cast<int>(band);
            result.centreHertz = centre;
        }
    }
    if (result.band >= 0)
        result.seconds
            = groupDelaySamples(bands[static_cast<std::size_t>(result.band)], hertz / sampleRate)
            / sampleRate;
    return result;
}

} // namespace lumivox::job
