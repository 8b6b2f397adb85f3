#pragma once

// Magnitude spectra for measuring sounds: a radix-2 FFT over a four-term Blackman-Harris window
// (side lobes below -92 dB), written here so measurements do not depend on the code under test.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <utility>
#include <vector>

namespace lumivox::test {

// In-place iterative FFT; data.size() must be a power of two.
inline void fft(std::vector<std::complex<double>>& data)
{
    const std::size_t n = data.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const double angle = -2.0 * std::numbers::pi / static_cast<double>(length);
        for (std::size_t start = 0; start < n; start += length) {
            for (std::size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> w = std::polar(1.0, angle * static_cast<double>(k));
                const std::complex<double> a = data[start + k];
                const std::complex<double> b = data[start + k + length / 2] * w;
                data[start + k] = a + b;
                data[start + k + length / 2] = a - b;
            }
        }
    }
}

// The magnitudes of bins 0 to n/2 of the windowed samples (n, a power of two, from the start).
inline std::vector<double> magnitudeSpectrum(const std::vector<double>& samples, std::size_t n)
{
    std::vector<std::complex<double>> data(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        const double window = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2.0 * x)
            - 0.01168 * std::cos(3.0 * x);
        data[i] = window * samples[i];
    }
    fft(data);
    std::vector<double> magnitudes(n / 2 + 1);
    for (std::size_t i = 0; i < magnitudes.size(); ++i)
        magnitudes[i] = std::abs(data[i]);
    return magnitudes;
}

// The largest bin that lies more than guardBins from every multiple of every fundamental, in dB
// relative to the largest bin of all. Fundamentals are in bins (fractional).
inline double largestOffHarmonicDecibels(const std::vector<double>& magnitudes,
    const std::vector<double>& fundamentalBins, double guardBins)
{
    std::vector<bool> harmonic(magnitudes.size(), false);
    for (const double f : fundamentalBins) {
        for (double centre = f; centre < static_cast<double>(magnitudes.size()); centre += f) {
            const auto low = static_cast<std::ptrdiff_t>(std::ceil(centre - guardBins));
            const auto high = static_cast<std::ptrdiff_t>(std::floor(centre + guardBins));
            for (std::ptrdiff_t b = std::max<std::ptrdiff_t>(low, 0);
                 b <= high && b < static_cast<std::ptrdiff_t>(harmonic.size()); ++b)
                harmonic[static_cast<std::size_t>(b)] = true;
        }
    }
    double strongest = 0.0;
    double offHarmonic = 0.0;
    // Bins near zero hold the window's spread of any offset, not a component of the sound.
    const auto firstBin = static_cast<std::size_t>(std::ceil(guardBins));
    for (std::size_t b = 0; b < magnitudes.size(); ++b) {
        strongest = std::max(strongest, magnitudes[b]);
        if (b >= firstBin && !harmonic[b])
            offHarmonic = std::max(offHarmonic, magnitudes[b]);
    }
    return 20.0 * std::log10(std::max(offHarmonic, 1e-300) / strongest);
}

// The fractional bin of the largest magnitude between two bins, refined by a parabola on the
// logarithms of its neighbours.
inline double peakBin(const std::vector<double>& magnitudes, std::size_t fromBin, std::size_t toBin)
{
    std::size_t best = fromBin;
    for (std::size_t b = fromBin; b < toBin && b < magnitudes.size(); ++b) {
        if (magnitudes[b] > magnitudes[best])
            best = b;
    }
    if (best == 0 || best + 1 >= magnitudes.size())
        return static_cast<double>(best);
    const double a = std::log(magnitudes[best - 1]);
    const double b = std::log(magnitudes[best]);
    const double c = std::log(magnitudes[best + 1]);
    const double curvature = a - 2.0 * b + c;
    return static_cast<double>(best) + (curvature < 0.0 ? 0.5 * (a - c) / curvature : 0.0);
}

} // namespace lumivox::test
