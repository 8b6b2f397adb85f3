#include "follow_voice_sound.h"

#include "block_path.h"

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
    : FollowVoiceSound(rate, semitones, widestVectorUnit())
{
}

FollowVoiceSound::FollowVoiceSound(double rate, int semitones, VectorUnit unit)
    : sampleRate(rate)
    , logRatio(semitones / 12.0)
    // Below 44 Hz of sample rate even 20 Hz is past the highest pitch: the range is that one.
    , logLowest(std::min(std::log2(lowestHertz / rate), std::log2(highestFraction)))
    , logHighest(std::log2(highestFraction))
    , tracker(rate, unit)
    , saw(220.0 / rate)
{
    smoothing = 1.0 - std::exp(-chunkFrames / (glideSeconds * rate));
}

void FollowVoiceSound::listen(std::span<const double> modulator)
{
    tracker.pushAll(modulator, [this] {
        if (frameCount == frames.size()) { // rendering lags far behind: the oldest is dropped
            firstFrame = (firstFrame + 1) % frames.size();
            --frameCount;
        }
        const PitchEstimate& found = tracker.latest();
        Frame& frame = frames[(firstFrame + frameCount) % frames.size()];
        frame.centre = found.centreFrame;
        frame.voiced = found.voiced;
        frame.logCycles = found.voiced ? std::log2(found.hertz / sampleRate) : 0.0;
        ++frameCount;
        bridgeDropout();
    });
}

// A single frame without pitch between two voiced frames at nearly the same pitch is a glitch in
// the voice (a joint between diphones, a crack), not a consonant: it keeps the pitch between them.
// Only frames not yet rendered can still be mended, so this helps where listening runs ahead.
void FollowVoiceSound::bridgeDropout()
{
    if (frameCount < 3)
        return;
    const auto at = [this](std::size_t fromNewest) -> Frame& {
        return frames[(firstFrame + frameCount - 1 - fromNewest) % frames.size()];
    };
    Frame& gap = at(1);
    const Frame& before = at(2);
    const Frame& after = at(0);
    if (gap.voiced || !before.voiced || !after.voiced
        || 12.0 * std::abs(after.logCycles - before.logCycles) > bridgeSemitones)
        return;
    gap.voiced = true;
    gap.logCycles = 0.5 * (before.logCycles + after.logCycles);
}

// Chooses the pitch and voicing for the chunk around centre from the frames either side of it.
// In a steady stretch it calls no transcendental function at all.
void FollowVoiceSound::startChunk(double centre)
{
    const auto frameAt = [this](std::size_t i) -> const Frame& {
        return frames[(firstFrame + i) % frames.size()];
    };
    while (frameCount >= 2 && frameAt(1).centre <= centre) {
        firstFrame = (firstFrame + 1) % frames.size();
        --frameCount;
    }

    double targetVoicing = 0.0;
    bool pitched = false;
    double voiceLog = 0.0; // log2 of the voice's pitch in cycles per sample
    if (frameCount == 1 || (frameCount >= 2 && centre <= frameAt(0).centre)) {
        pitched = frameAt(0).voiced;
        targetVoicing = pitched ? 1.0 : 0.0;
        voiceLog = frameAt(0).logCycles;
    } else if (frameCount >= 2) {
        const Frame& a = frameAt(0);
        const Frame& b = frameAt(1);
        const double u
            = std::clamp((centre - a.centre) / std::max(b.centre - a.centre, 1.0), 0.0, 1.0);
        targetVoicing = (a.voiced ? 1.0 - u : 0.0) + (b.voiced ? u : 0.0);
        pitched = a.voiced || b.voiced;
        if (a.voiced && b.voiced)
            voiceLog = (1.0 - u) * a.logCycles + u * b.logCycles;
        else
            voiceLog = a.voiced ? a.logCycles : b.logCycles;
    }

    if (pitched) {
        const double target = std::clamp(voiceLog + logRatio, logLowest, logHighest);
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
    if (std::abs(targetVoicing - voicing) < 1e-6)
        voicing = targetVoicing; // settled: the weights below stop changing

    // Each chunk starts exactly where the last one aimed, so rounding in the steps never builds up.
    sawWeight = sawTarget;
    noiseWeight = noiseTarget;
    if (voicing != weightedVoicing) {
        weightedVoicing = voicing;
        const double quarterTurn = 0.5 * std::numbers::pi;
        sawTarget = voicing == 0.0 ? 0.0 : sawGain * std::sin(quarterTurn * voicing);
        noiseTarget = voicing == 1.0 ? 0.0 : noiseGain * std::cos(quarterTurn * voicing);
    }
    sawWeightStep = (sawTarget - sawWeight) / chunkFrames;
    noiseWeightStep = (noiseTarget - noiseWeight) / chunkFrames;
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
        double* chunk = out.data() + done;
        // A part whose weight stays at zero through the chunk is not made: the saw then holds its
        // phase and the noise its place in the sequence, both the same on every run. The weights
        // move in locals, which the stores to the chunk cannot touch.
        const bool sawHeard = sawWeight != 0.0 || sawTarget != 0.0;
        const bool noiseHeard = noiseWeight != 0.0 || noiseTarget != 0.0;
        double sawNow = sawWeight;
        double noiseNow = noiseWeight;
        const double sawStep = sawWeightStep;
        const double noiseStep = noiseWeightStep;
        const int length = static_cast<int>(count);
        if (sawHeard && noiseHeard) {
            saw.generate(length, [&](int i, double wave) {
                chunk[i] = sawNow * wave + noiseNow * noise.next();
                sawNow += sawStep;
                noiseNow += noiseStep;
            });
        } else if (sawHeard) {
            saw.generate(length, [&](int i, double wave) {
                chunk[i] = sawNow * wave;
                sawNow += sawStep;
            });
        } else if (noiseHeard) {
            for (std::size_t i = 0; i < count; ++i) {
                chunk[i] = noiseNow * noise.next();
                noiseNow += noiseStep;
            }
        } else {
            std::fill_n(chunk, count, 0.0);
        }
        sawWeight = sawNow;
        noiseWeight = noiseNow;
        done += count;
        chunkLeft -= static_cast<int>(count);
        renderedFrames += static_cast<double>(count);
    }
}

} // namespace lumivox::engine
