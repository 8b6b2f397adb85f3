#include "pitch_tracker.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace lumivox::engine {

namespace {
    // A Butterworth low-pass section by the bilinear transform, for a pole pair of quality q.
    template <typename Section> Section lowPassSection(double cutoffHertz, double rate, double q)
    {
        const double k = std::tan(std::numbers::pi * cutoffHertz / rate);
        const double norm = 1.0 / (1.0 + k / q + k * k);
        Section s;
        s.b0 = k * k * norm;
        s.b1 = 2.0 * s.b0;
        s.b2 = s.b0;
        s.a1 = 2.0 * (k * k - 1.0) * norm;
        s.a2 = (1.0 - k / q + k * k) * norm;
        return s;
    }
} // namespace

PitchTracker::PitchTracker(double sampleRate)
{
    decimation = std::max(1, static_cast<int>(sampleRate / 8000.0));
    rate = sampleRate / decimation;
    longestLag = static_cast<int>(std::ceil(rate / lowestHertz));
    shortestLag = std::max(2, static_cast<int>(std::floor(rate / highestHertz)));
    window = longestLag;
    hopFrames = std::max(1, static_cast<int>(std::lround(rate * hopSeconds)));
    // A fourth-order Butterworth low-pass at a quarter of the decimated rate keeps what folds back
    // in decimation well below the voice's fundamental and first formants.
    const double cutoff = rate / 4.0;
    lowPassFirst = lowPassSection<Section>(cutoff, sampleRate, 0.54119610);
    lowPassSecond = lowPassSection<Section>(cutoff, sampleRate, 1.30656296);
    history.assign(2 * static_cast<std::size_t>(window + longestLag), 0.0);
    difference.assign(static_cast<std::size_t>(longestLag) + 1, 0.0);
    normalised.assign(difference.size(), 1.0);
}

bool PitchTracker::pushDecimated(double sample)
{
    const std::size_t span = static_cast<std::size_t>(window + longestLag);
    if (filled == history.size()) {
        std::memmove(history.data(), history.data() + filled - span, span * sizeof(double));
        filled = span;
    }
    history[filled++] = sample;
    if (++sinceFrame < hopFrames || filled < span)
        return false;
    sinceFrame = 0;
    analyse(history.data() + filled - span);
    return true;
}

void PitchTracker::analyse(const double* frame)
{
    const int w = window;
    double energy = 0.0;
    for (int j = 0; j < w + longestLag; ++j)
        energy += frame[j] * frame[j];
    const bool silent = energy < silenceLevel * silenceLevel * (w + longestLag);

    // The difference function, summed in four chains so that the additions overlap.
    for (int lag = 1; lag <= longestLag; ++lag) {
        const double* shifted = frame + lag;
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        int j = 0;
        for (; j + 4 <= w; j += 4) {
            const double d0 = frame[j] - shifted[j];
            const double d1 = frame[j + 1] - shifted[j + 1];
            const double d2 = frame[j + 2] - shifted[j + 2];
            const double d3 = frame[j + 3] - shifted[j + 3];
            s0 += d0 * d0;
            s1 += d1 * d1;
            s2 += d2 * d2;
            s3 += d3 * d3;
        }
        for (; j < w; ++j) {
            const double d = frame[j] - shifted[j];
            s0 += d * d;
        }
        difference[static_cast<std::size_t>(lag)] = (s0 + s1) + (s2 + s3);
    }

    // Normalised by the running mean: d'(lag) = d(lag) lag / sum of d(1..lag).
    double runningSum = 0.0;
    double best = 2.0;
    int bestLag = shortestLag;
    for (int lag = 1; lag <= longestLag; ++lag) {
        const double raw = difference[static_cast<std::size_t>(lag)];
        runningSum += raw;
        const double value = runningSum > 0.0 ? raw * lag / runningSum : 1.0;
        normalised[static_cast<std::size_t>(lag)] = value;
        if (lag >= shortestLag && lag < longestLag && value < best) {
            best = value;
            bestLag = lag;
        }
    }
    int chosen = 0;
    for (int lag = shortestLag; lag < longestLag; ++lag) {
        if (normalised[static_cast<std::size_t>(lag)] < threshold) {
            while (lag + 1 < longestLag
                && normalised[static_cast<std::size_t>(lag + 1)]
                    < normalised[static_cast<std::size_t>(lag)])
                ++lag;
            chosen = lag;
            break;
        }
    }

    const int lag = chosen != 0 ? chosen : bestLag;
    // The parabola through the raw differences, which near a period are closer to one than the
    // normalised ones.
    const auto index = static_cast<std::size_t>(lag);
    const double before = difference[index - 1];
    const double after = difference[index + 1];
    const double curvature = before - 2.0 * difference[index] + after;
    double refined = static_cast<double>(lag);
    if (curvature > 0.0)
        refined += std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);

    estimate.voiced = chosen != 0 && !silent;
    estimate.aperiodicity = normalised[index];
    estimate.hertz = rate / refined;
    // The frame describes the stretch its differences span: the window and one period after it.
    const double spanEnd = static_cast<double>(inputCount);
    const double described = (w + refined) * decimation;
    estimate.centreFrame = spanEnd - (w + longestLag) * decimation + 0.5 * described;
}

} // namespace lumivox::engine
