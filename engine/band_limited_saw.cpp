#include "band_limited_saw.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lumivox::engine {

namespace {
    constexpr double lowestCycles = 1e-5;
    constexpr double highestCycles = 0.49;
    // The leak's corner sits a twentieth of the fundamental below it, far under every harmonic.
    constexpr double leakFraction = 1.0 / 20.0;
    constexpr double nearEdge = 1e-5; // |sin(theta/2)| below which the series takes over

    double clampCycles(double cyclesPerSample)
    {
        if (!(cyclesPerSample >= lowestCycles)) // NaN too
            return lowestCycles;
        return std::min(cyclesPerSample, highestCycles);
    }
} // namespace

BandLimitedSaw::BandLimitedSaw(double cyclesPerSample, double startCycles)
    : nextCycles(clampCycles(cyclesPerSample))
    , cycles(startCycles - std::floor(startCycles))
    // The integrator starts on the ramp's own value there, (pi - theta) / 2, so the wave has no
    // offset to lose; the band-limited ripple it leaves out is lost through the leak.
    , integral(std::numbers::pi * (0.5 - cycles))
{
}

void BandLimitedSaw::setFrequency(double cyclesPerSample)
{
    nextCycles = clampCycles(cyclesPerSample);
}

// Sets the phasors from the exact phase, so rounding in the per-sample rotations never builds up.
void BandLimitedSaw::startSubBlock()
{
    const double f = nextCycles;
    const double halfPeriods = 0.5 / f; // Nyquist over the frequency
    // Harmonics strictly below Nyquist; the highest one is weighted by how far it is from it, in
    // harmonic spacings, so it reaches zero just as it would cross Nyquist.
    const double below = std::ceil(halfPeriods) - 1.0;
    topWeight = halfPeriods - below;
    fullHarmonics = below - 1.0;
    edgeCurvature = fullHarmonics * (fullHarmonics + 1.0) * (2.0 * fullHarmonics + 1.0) / 3.0;

    step = 2.0 * std::numbers::pi * f;
    leak = 1.0 - leakFraction * step;
    const double theta = 2.0 * std::numbers::pi * cycles;
    const double sumOrder = fullHarmonics + 0.5;
    halfRe = std::cos(0.5 * theta);
    halfIm = std::sin(0.5 * theta);
    sumRe = std::cos(sumOrder * theta);
    sumIm = std::sin(sumOrder * theta);
    halfStepRe = std::cos(0.5 * step);
    halfStepIm = std::sin(0.5 * step);
    sumStepRe = std::cos(sumOrder * step);
    sumStepIm = std::sin(sumOrder * step);

    cycles += subBlockFrames * f;
    cycles -= std::floor(cycles);
    framesLeft = subBlockFrames;
}

void BandLimitedSaw::addTo(std::span<double> out, double gain)
{
    for (double& sample : out) {
        if (framesLeft == 0)
            startSubBlock();
        // The sum of cos(k theta) for k = 1..n (n = fullHarmonics) is sin((n + 1/2) theta) /
        // (2 sin(theta/2)) - 1/2. Where sin(theta/2) nears zero, the rounding in both sines would
        // dominate the quotient: there the first two terms of its series, n - theta^2 n(n+1)(2n+1)
        // / 12, are exact to far below the sound, with theta^2 = 4 sin^2(theta/2).
        const double fullSum = std::abs(halfIm) > nearEdge
            ? sumIm / (2.0 * halfIm) - 0.5
            : fullHarmonics - halfIm * halfIm * edgeCurvature;
        const double top = sumRe * halfRe - sumIm * halfIm; // cos((fullHarmonics + 1) theta)
        integral = leak * integral + step * (fullSum + topWeight * top);
        sample += gain * integral;

        const double nextHalfRe = halfRe * halfStepRe - halfIm * halfStepIm;
        halfIm = halfRe * halfStepIm + halfIm * halfStepRe;
        halfRe = nextHalfRe;
        const double nextSumRe = sumRe * sumStepRe - sumIm * sumStepIm;
        sumIm = sumRe * sumStepIm + sumIm * sumStepRe;
        sumRe = nextSumRe;
        --framesLeft;
    }
}

} // namespace lumivox::engine
