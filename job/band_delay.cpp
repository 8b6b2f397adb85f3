#include "band_delay.h"

#include <algorithm>
#include <cmath>

namespace lumivox::job {

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

BandDelay bandDelayAt(std::span<const engine::FilterCascade> bands, double sampleRate,
    double hertz, std::span<const int> heldBack)
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
    if (result.band >= 0) {
        const auto band = static_cast<std::size_t>(result.band);
        const double held = band < heldBack.size() ? heldBack[band] : 0.0;
        result.seconds = (groupDelaySamples(bands[band], hertz / sampleRate) + held) / sampleRate;
    }
    return result;
}

} // namespace lumivox::job
