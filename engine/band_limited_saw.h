#pragma once

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

    // Adds gain times the next out.size() samples to out. The wave swings about +-pi/2 (about
    // +-1.85 with the ripple of a band-limited edge) around zero.
    void addTo(std::span<double> out, double gain);

    static constexpr int subBlockFrames = 32;

private:
    void startSubBlock();

    double nextCycles;
    double cycles = 0.5; // the phase, in [0, 1)
    double step = 0.0; // the frequency of the running sub-block, in radians per sample
    double leak = 1.0;
    double integral = 0.0;
    double fullHarmonics = 0.0; // harmonics at full weight, 1 to fullHarmonics
    double topWeight = 0.0; // the weight of harmonic fullHarmonics + 1
    double edgeCurvature = 0.0; // n(n+1)(2n+1)/3 for n = fullHarmonics
    // e^(i theta/2) and e^(i (fullHarmonics + 1/2) theta), and their steps per sample.
    double halfRe = 1.0, halfIm = 0.0, sumRe = 1.0, sumIm = 0.0;
    double halfStepRe = 1.0, halfStepIm = 0.0, sumStepRe = 1.0, sumStepIm = 0.0;
    int framesLeft = 0; // in the running sub-block
};

} // namespace lumivox::engine
