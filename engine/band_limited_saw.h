#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <span>

namespace lumivox::engine {

// A sawtooth with only the harmonics below half the sample rate: a closed-form sum of cosines
// (an impulse train holding exactly those harmonics) integrated by a slightly leaky integrator.
// The top harmonic fades in and out as the frequency moves, so a glide adds none abruptly.
class BandLimitedSaw {
public:
    // Frequencies are in cycles per sample, kept within [1e-5, 0.49]. The phase starts at
    // startCycles (taken into [0, 1)); the default, half a cycle, is where the ramp crosses zero.
    explicit BandLimitedSaw(double cyclesPerSample, double startCycles = 0.5);

    // Takes effect from the next run of subBlockFrames samples; the phase stays continuous.
    void setFrequency(double cyclesPerSample);
    double frequency() const { return nextCycles; }

    // The next sample. The wave swings about +-pi/2 (about +-1.85 with the ripple of a
    // band-limited edge) around zero.
    double next()
    {
        double sample = 0.0;
        generate(1, [&sample](int, double value) { sample = value; });
        return sample;
    }

    // The next count samples, each handed to take(i, sample) in order, as count calls of next()
    // give them. The wave's state stays in locals meanwhile: a store through a pointer to double
    // in take could otherwise be one to the state, which every sample would then store and load.
    template <typename Take> void generate(int count, Take take)
    {
        for (int i = 0; i < count;) {
            if (framesLeft == 0)
                startSubBlock();
            const int run = std::min(count - i, framesLeft);
            const double n = fullHarmonics, curvature = edgeCurvature, weight = topWeight;
            const double hsRe = halfStepRe, hsIm = halfStepIm, ssRe = sumStepRe, ssIm = sumStepIm;
            const double decay = leak, gain = step;
            double hRe = halfRe, hIm = halfIm, sRe = sumRe, sIm = sumIm, y = integral;
            for (int k = 0; k < run; ++k) {
                // The sum of cos(k theta) for k = 1..n (n = fullHarmonics) is sin((n + 1/2)
                // theta) / (2 sin(theta/2)) - 1/2. Where sin(theta/2) nears zero, the rounding
                // in both sines would dominate the quotient: there the first two terms of its
                // series, n - theta^2 n(n+1)(2n+1) / 12, are exact to far below the sound, with
                // theta^2 = 4 sin^2(theta/2).
                const double fullSum = std::abs(hIm) > nearEdge ? sIm / (2.0 * hIm) - 0.5
                                                                : n - hIm * hIm * curvature;
                const double top = sRe * hRe - sIm * hIm; // cos((fullHarmonics + 1) theta)
                y = decay * y + gain * (fullSum + weight * top);

                const double nextHalfRe = hRe * hsRe - hIm * hsIm;
                hIm = hRe * hsIm + hIm * hsRe;
                hRe = nextHalfRe;
                const double nextSumRe = sRe * ssRe - sIm * ssIm;
                sIm = sRe * ssIm + sIm * ssRe;
                sRe = nextSumRe;
                take(i + k, y);
            }
            halfRe = hRe;
            halfIm = hIm;
            sumRe = sRe;
            sumIm = sIm;
            integral = y;
            framesLeft -= run;
            i += run;
        }
    }

    // Harmonic k (from 1) as the wave holds it once settled, relative to cos(k theta) with theta
    // the phase: its amplitude (about 1/k, less near Nyquist) and its phase lead (about -pi/2).
    std::complex<double> harmonic(int k) const;

    // Adds gain times the next out.size() samples to out.
    void addTo(std::span<double> out, double gain);

    static constexpr int subBlockFrames = 32;
    static constexpr int rephaseSubBlocks = 8; // a rotation's rounding grows by ~1e-16 a sample
    static constexpr double nearEdge = 1e-5; // |sin(theta/2)| below which the series takes over

private:
    void startSubBlock();

    double nextCycles;
    double runningCycles = 0.0; // the frequency the sub-block runs at; 0 before the first
    int subBlocksToRephase = 0;
    double cycles = 0.5; // the phase, in [0, 1)
    double step = 0.0; // the frequency of the running sub-block, in radians per sample
    double leak = 1.0;
    double integral = 0.0;
    double fullHarmonics = -1.0; // harmonics at full weight, 1 to fullHarmonics; -1 before any
    double topWeight = 0.0; // the weight of harmonic fullHarmonics + 1
    double edgeCurvature = 0.0; // n(n+1)(2n+1)/3 for n = fullHarmonics
    // e^(i theta/2) and e^(i (fullHarmonics + 1/2) theta), and their steps per sample.
    double halfRe = 1.0, halfIm = 0.0, sumRe = 1.0, sumIm = 0.0;
    double halfStepRe = 1.0, halfStepIm = 0.0, sumStepRe = 1.0, sumStepIm = 0.0;
    int framesLeft = 0; // in the running sub-block
};

} // namespace lumivox::engine
