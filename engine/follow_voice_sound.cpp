#include "follow_voice_sound.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lumivox::engine {

namespace {
    constexpr double lowestHertz = 20.0;
    constexpr double highestFraction = 0.45; // of the sample rate
    constexpr double glideSeconds = 0.004; // time constant of the pitch and voicing glides
    constexpr int chunkFrames = BandLimitedSaw::subBlockFrames;
    constexpr double bridgeSemitones = 2.0; // the widest pitch step a bridged glitch may span
} // namespace

FollowVoiceSound::FollowVoiceSound(double rate, int semitones)
    : sampleRate(rate)
    , ratio(std::exp2(semitones / 12.0))
    , tracker(rate)
    , saw(220.0 / rate)
{
    smoothing = 1.0 - std::exp(-chunkFrames / (glideSeconds * rate));
}

void FollowVoiceSound::listen(std::span<const double> modulator)
{
    for (const double sample : modulator) {
        if (!tracker.push(sample))
            continue;
        if (frameCount == frames.size()) { // rendering lags far behind: the oldest is dropped
            firstFrame = (firstFrame + 1) % frames.size();
            --frameCount;
        }
        frames[(firstFrame + frameCount) % frames.size()] = tracker.latest();
        ++frameCount;
        bridgeDropout();
    }
}

// A single frame without pitch between two voiced frames at nearly the same pitch is a glitch in
// the voice (a joint between diphones, a crack), not a consonant: it keeps the pitch between them.
// Only frames not yet rendered can still be mended, so this helps where listening runs ahead.
void FollowVoiceSound::bridgeDropout()
{
    if (frameCount < 3)
        return;
    const auto at = [this](std::size_t fromNewest) -> PitchEstimate& {
        return frames[(firstFrame + frameCount - 1 - fromNewest) % frames.size()];
    };
    PitchEstimate& gap = at(1);
    const PitchEstimate& before = at(2);
    const PitchEstimate& after = at(0);
    if (gap.voiced || !before.voiced || !after.voiced)
        return;
    const double semitonesApart = 12.0 * std::abs(std::log2(after.hertz / before.hertz));
    if (semitonesApart > bridgeSemitones)
        return;
    gap.voiced = true;
    gap.hertz = std::sqrt(before.hertz * after.hertz);
}

// Chooses the pitch and voicing for the chunk around centre from the frames either side of it.
void FollowVoiceSound::startChunk(double centre)
{
    const auto frameAt = [this](std::size_t i) -> const PitchEstimate& {
        return frames[(firstFrame + i) % frames.size()];
    };
    while (frameCount >= 2 && frameAt(1).centreFrame <= centre) {
        firstFrame = (firstFrame + 1) % frames.size();
        --frameCount;
    }

    double targetVoicing = 0.0;
    double targetHertz = 0.0;
    if (frameCount == 1 || (frameCount >= 2 && centre <= frameAt(0).centreFrame)) {
        targetVoicing = frameAt(0).voiced ? 1.0 : 0.0;
        targetHertz = frameAt(0).voiced ? frameAt(0).hertz : 0.0;
    } else if (frameCount >= 2) {
        const PitchEstimate& a = frameAt(0);
        const PitchEstimate& b = frameAt(1);
        const double u = std::clamp(
            (centre - a.centreFrame) / std::max(b.centreFrame - a.centreFrame, 1.0), 0.0, 1.0);
        targetVoicing = (a.voiced ? 1.0 - u : 0.0) + (b.voiced ? u : 0.0);
        if (a.voiced && b.voiced)
            targetHertz = std::exp2((1.0 - u) * std::log2(a.hertz) + u * std::log2(b.hertz));
        else if (a.voiced || b.voiced)
            targetHertz = a.voiced ? a.hertz : b.hertz;
    }

    if (targetHertz > 0.0) {
        const double hertz
            = std::clamp(targetHertz * ratio, lowestHertz, highestFraction * sampleRate);
        const double target = std::log2(hertz / sampleRate);
        // A saw that is silent, or has never sounded, starts on the new pitch instead of sliding.
        if (!hasPitch || voicing < 0.01)
            logPitch = target;
        else
            logPitch += smoothing * (target - logPitch);
        hasPitch = true;
        // Steps below a hundredth of a cent are left out: the saw then keeps its tuning.
        if (std::abs(logPitch - tunedLogPitch) > 1e-2 / 1200.0) {
            tunedLogPitch = logPitch;
            saw.setFrequency(std::exp2(logPitch));
        }
    }
    if (!hasPitch)
        targetVoicing = 0.0;
    voicing += smoothing * (targetVoicing - voicing);

    const double quarterTurn = 0.5 * std::numbers::pi;
    const double nextSaw = sawGain * std::sin(quarterTurn * voicing);
    const double nextNoise = noiseGain * std::cos(quarterTurn * voicing);
    sawWeightStep = (nextSaw - sawWeight) / chunkFrames;
    noiseWeightStep = (nextNoise - noiseWeight) / chunkFrames;
}

void FollowVoiceSound::render(std::span<double> out)
{
    std::size_t done = 0;
    while (done < out.size()) {
        if (chunkLeft == 0) {
            // The glide lags its target by about its time constant: the target is taken that
            // much ahead, where the frames reach.
            startChunk(renderedFrames + 0.5 * chunkFrames + glideSeconds * sampleRate);
            chunkLeft = chunkFrames;
        }
        const std::size_t count = std::min(out.size() - done, static_cast<std::size_t>(chunkLeft));
        for (std::size_t i = 0; i < count; ++i) {
            out[done + i] = sawWeight * saw.next() + noiseWeight * noise.next();
            sawWeight += sawWeightStep;
            noiseWeight += noiseWeightStep;
        }
        done += count;
        chunkLeft -= static_cast<int>(count);
        renderedFrames += static_cast<double>(count);
    }
}

} // namespace lumivox::engine
