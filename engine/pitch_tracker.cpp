#include "pitch_tracker.h"

#include "block_path.h"

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
    : PitchTracker(sampleRate, widestVectorUnit())
{
}

PitchTracker::PitchTracker(double sampleRate, VectorUnit unit)
    : correlate(pitchCorrelationFor(unit))
{
    decimation = std::max(1, static_cast<int>(sampleRate / 6000.0));
    rate = sampleRate / decimation;
    longestLag = static_cast<int>(std::ceil(rate / lowestHertz));
    shortestLag = std::max(2, static_cast<int>(std::floor(rate / highestHertz)));
    // At a rate of 120 Hz or less no pitch of a voice has a period of more than the shortest lag;
    // the search then keeps one lag (and the parabola the lags either side of it) so that every
    // frame is still analysed within its bounds. It finds little to call voiced there.
    longestLag = std::max(longestLag, shortestLag + 1);
    window = longestLag;
    hopFrames = std::max(1, static_cast<int>(std::lround(rate * hopSeconds)));
    // A fourth-order Butterworth low-pass at a quarter of the decimated rate leaves the voice's
    // fundamental and first formants.
    const double cutoff = rate / 4.0;
    lowPassFirst = lowPassSection<Section>(cutoff, rate, 0.54119610);
    lowPassSecond = lowPassSection<Section>(cutoff, rate, 1.30656296);
    averageScale = 1.0 / decimation;
    // Room past the newest frame for what the correlation reads beyond it.
    history.assign(
        2 * static_cast<std::size_t>(window + longestLag) + pitchCorrelationOverrun, 0.0);
    correlations.assign(static_cast<std::size_t>(longestLag + pitchCorrelationOverrun), 0.0);
    difference.assign(static_cast<std::size_t>(longestLag) + 1, 0.0);
    normalised.assign(difference.size(), 1.0);
}

bool PitchTracker::pushDecimated(double sample)
{
    const std::size_t span = static_cast<std::size_t>(window + longestLag);
    if (filled == history.size() - pitchCorrelationOverrun) {
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

    // The difference function as d(lag) = e(0) + e(lag) - 2 r(lag), with e(lag) the energy of the
    // window starting at lag (slid along) and r(lag) the window's correlation with itself shifted
    // by lag, all lags at once on the vector unit.
    double startEnergy = 0.0;
    for (int j = 0; j < w; ++j)
        startEnergy += frame[j] * frame[j];
    correlate(frame, w, longestLag, correlations.data());
    double shiftedEnergy = startEnergy;
    for (int lag = 1; lag <= longestLag; ++lag) {
        const double leaving = frame[lag - 1];
        const double entering = frame[lag + w - 1];
        shiftedEnergy += entering * entering - leaving * leaving;
        const double correlation = correlations[static_cast<std::size_t>(lag - 1)];
        difference[static_cast<std::size_t>(lag)]
            = std::max(0.0, startEnergy + shiftedEnergy - 2.0 * correlation);
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
    if (estimate.voiced && !silent) {
        // A voice moves little in one hop: near the last period a shallower dip still counts,
        // which keeps breathy or rough stretches voiced without taking early dips elsewhere.
        const double lastLag = rate / estimate.hertz;
        const int low = std::max(shortestLag, static_cast<int>(lastLag / holdRange));
        const int high = std::min(longestLag - 1, static_cast<int>(std::ceil(lastLag * holdRange)));
        int nearest = 0;
        for (int lag = low; lag <= high; ++lag) {
            if (nearest == 0
                || normalised[static_cast<std::size_t>(lag)]
                    < normalised[static_cast<std::size_t>(nearest)])
                nearest = lag;
        }
        const bool isDip = nearest > low && nearest < high;
        if (isDip && normalised[static_cast<std::size_t>(nearest)] < holdThreshold)
            chosen = nearest;
    }
    for (int lag = shortestLag; chosen == 0 && lag < longestLag; ++lag) {
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
