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

// Takes up a new frequency, and every few sub-blocks sets the phasors from the exact phase, so
// that rounding in the per-sample rotations never builds up.
void BandLimitedSaw::startSubBlock()
{
    const double f = nextCycles;
    const bool retune = f != runningCycles;
    const double harmonicsBefore = fullHarmonics;
    if (retune) {
        runningCycles = f;
        const double halfPeriods = 0.5 / f; // Nyquist over the frequency
        // Harmonics strictly below Nyquist; the highest one is weighted by how far it is from it,
        // in harmonic spacings, so it reaches zero just as it would cross Nyquist.
        const double below = std::ceil(halfPeriods) - 1.0;
        topWeight = halfPeriods - below;
        fullHarmonics = below - 1.0;
        edgeCurvature = fullHarmonics * (fullHarmonics + 1.0) * (2.0 * fullHarmonics + 1.0) / 3.0;
        step = 2.0 * std::numbers::pi * f;
        leak = 1.0 - leakFraction * step;
        const double sumOrder = fullHarmonics + 0.5;
        halfStepRe = std::cos(0.5 * step);
        halfStepIm = std::sin(0.5 * step);
        sumStepRe = std::cos(sumOrder * step);
        sumStepIm = std::sin(sumOrder * step);
    }
    // The phasors go on across a change of frequency unless the harmonics' count changed.
    if (fullHarmonics != harmonicsBefore || --subBlocksToRephase <= 0) {
        const double theta = 2.0 * std::numbers::pi * cycles;
        const double sumOrder = fullHarmonics + 0.5;
        halfRe = std::cos(0.5 * theta);
        halfIm = std::sin(0.5 * theta);
        sumRe = std::cos(sumOrder * theta);
        sumIm = std::sin(sumOrder * theta);
        subBlocksToRephase = rephaseSubBlocks;
    }
    cycles += subBlockFrames * f;
    cycles -= std::floor(cycles);
    framesLeft = subBlockFrames;
}

std::complex<double> BandLimitedSaw::harmonic(int k) const
{
    // The integrator's response to the impulse train's k-th cosine at the weight it has there.
    const double f = nextCycles;
    const double halfPeriods = 0.5 / f;
    const double below = std::ceil(halfPeriods) - 1.0;
    const double weight = k <= below - 1.0 ? 1.0 : k == below ? halfPeriods - below : 0.0;
    if (weight == 0.0)
        return 0.0; // not made at all, at or above Nyquist
    const double s = 2.0 * std::numbers::pi * f;
    const double l = 1.0 - leakFraction * s;
    return s * weight / (1.0 - l * std::polar(1.0, -k * s));
}

void BandLimitedSaw::addTo(std::span<double> out, double gain)
{
    for (double& sample : out)
        sample += gain * next();
}

} // namespace lumivox::engine
