#pragma once

#include "pitch_correlation.h"

#include <cstdint>
#include <span>
#include <vector>

namespace lumivox::engine {

// What one analysis frame found: a pitch, or none (silence, breath, consonants).
struct PitchEstimate {
    bool voiced = false;
    double hertz = 0.0; // meaningful only when voiced
    // The normalised difference at the chosen lag: near 0 for a periodic frame, near 1 for noise.
    double aperiodicity = 1.0;
    double centreFrame = 0.0; // the input sample the frame describes, counted from the first
};

// The YIN pitch tracker (de Cheveigne and Kawahara, 2002): the cumulative-mean-normalised
// difference function over a window, the first lag below an absolute threshold, refined by a
// parabola. It runs on the input decimated to 6 to 12 kHz and low-passed, where voices have all
// the detail it needs, so it costs little beside the vocoder.
class PitchTracker {
public:
    // On the widest unit of this machine, or on the one given (every unit finds the same pitch,
    // bit for bit). May throw std::bad_alloc.
    explicit PitchTracker(double sampleRate);
    PitchTracker(double sampleRate, VectorUnit unit);

    // Takes the next input sample; true when it completed a frame, which latest() then describes.
    bool push(double sample)
    {
        bool completed = false;
        pushAll(std::span<const double>(&sample, 1), [&completed] { completed = true; });
        return completed;
    }

    // Takes the next input samples as push() takes them one by one, and calls frameDone() after
    // each frame they complete, while latest() describes it. The running sum and the counts stay
    // in locals meanwhile: a store to them could be one to the input, so each sample would
    // otherwise store and load them again, one after the other.
    template <typename FrameDone> void pushAll(std::span<const double> input, FrameDone frameDone)
    {
        double sum = pending;
        int phase = decimationPhase;
        std::int64_t count = inputCount;
        for (const double sample : input) {
            // Each run of `decimation` samples is averaged into one, then low-passed at the lower
            // rate: what the average lets fold back lies far above a voice's pitch and adds little.
            sum += sample;
            ++count;
            if (++phase < decimation)
                continue;
            phase = 0;
            const double average = sum * averageScale;
            sum = 0.0;
            inputCount = count; // the frame's place is worked out from it
            if (pushDecimated(lowPassSecond.process(lowPassFirst.process(average)))) {
                pending = sum;
                decimationPhase = phase;
                frameDone();
            }
        }
        pending = sum;
        decimationPhase = phase;
        inputCount = count;
    }

    const PitchEstimate& latest() const { return estimate; }
    int hopInputFrames() const { return hopFrames * decimation; }
    double analysisRate() const { return rate; }

    static constexpr double lowestHertz = 60.0;
    static constexpr double highestHertz = 1000.0;
    static constexpr double threshold = 0.2;
    // After a voiced frame, a dip within holdRange of its period counts up to this aperiodicity:
    // breathy or rough stretches of a voice would otherwise flicker between pitch and none.
    static constexpr double holdThreshold = 0.35;
    static constexpr double holdRange = 1.19; // three semitones either way
    static constexpr double silenceLevel = 0.001; // the RMS below which a frame has no pitch
    static constexpr double hopSeconds = 0.01;

private:
    // A second-order low-pass section in direct form I.
    struct Section {
        double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
        double process(double x)
        {
            const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            return y;
        }
    };

    bool pushDecimated(double sample);
    void analyse(const double* frame);

    int decimation = 1;
    double rate = 0.0; // after decimation
    int window = 0; // W, the integration window, in decimated samples
    int longestLag = 0;
    int shortestLag = 0;
    int hopFrames = 0; // in decimated samples
    Section lowPassFirst;
    Section lowPassSecond;
    int decimationPhase = 0;
    double pending = 0.0; // the sum of the samples since the last decimated one
    double averageScale = 1.0;
    std::int64_t inputCount = 0;
    std::vector<double> history; // decimated samples, the newest at filled - 1
    std::size_t filled = 0;
    int sinceFrame = 0;
    PitchCorrelation correlate;
    std::vector<double> correlations; // per lag from 1, reused by every frame
    std::vector<double> difference; // per lag, reused by every frame
    std::vector<double> normalised; // the same, divided by their running mean
    PitchEstimate estimate;
};

} // namespace lumivox::engine
