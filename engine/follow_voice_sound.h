#pragma once

#include "band_limited_saw.h"
#include "carrier_sound.h"
#include "pitch_tracker.h"
#include "white_noise.h"

#include <array>

namespace lumivox::engine {

// A carrier that sings along with the voice: a band-limited sawtooth at the modulator's pitch
// moved by an interval, gliding from one analysis frame to the next, and white noise in its place
// where the voice has no pitch (consonants, breath, silence), so speech stays intelligible.
//
// Each sample takes its pitch from the analysis frames on either side of it. Rendered right after
// listening to the same samples, it holds the newest frame and lags the voice by about half an
// analysis span (about 17 ms); listened to ahead, by a block or more, it lags by nothing.
class FollowVoiceSound final : public CarrierSound {
public:
    // Its pitch tracker runs on the widest unit of this machine, or on the one given (the same
    // sound on every unit). May throw std::bad_alloc.
    FollowVoiceSound(double sampleRate, int semitones);
    FollowVoiceSound(double sampleRate, int semitones, VectorUnit unit);

    void listen(std::span<const double> modulator) override;
    void render(std::span<double> out) override;

    static constexpr double sawGain = 0.27; // the saw's peaks near -6 dBFS
    static constexpr double noiseGain = 0.424; // white noise at the saw's RMS level
    static constexpr std::uint64_t noiseSeed = 0x466f6c6c6f77ull;
    // The blur the engine's bands narrower than the voice's harmonic spacing need with this
    // carrier (VocoderEngine::setHarmonicBandBlur). Unblurred, each of them holds one harmonic of
    // the voice and lets through only the partials near it, so that at other intervals than 0
    // the output sounds at the voice's own pitch (or a multiple of it) instead of the carrier's.
    static constexpr int harmonicBandBlur = 3;

private:
    // An analysis frame as rendering uses it.
    struct Frame {
        double centre = 0.0; // the input sample it describes
        double logCycles = 0.0; // log2 of the voice's pitch in cycles per sample, when voiced
        bool voiced = false;
    };

    void startChunk(double centre);
    void bridgeDropout();

    double sampleRate;
    double logRatio; // log2 of the sound's pitch over the voice's
    double logLowest; // the lowest and highest pitch the saw may take, log2 of cycles per sample
    double logHighest;
    PitchTracker tracker;
    BandLimitedSaw saw;
    WhiteNoise noise { noiseSeed };

    // The frames not yet passed by rendering, oldest first, in a ring.
    std::array<Frame, 64> frames {};
    std::size_t firstFrame = 0;
    std::size_t frameCount = 0;

    double renderedFrames = 0.0;
    int chunkLeft = 0; // samples left before the next pitch update, in step with the saw
    double logPitch = 0.0; // of the saw, log2 of cycles per sample, smoothed
    double tunedLogPitch = 1.0; // as the saw was last set; 1 (no frequency) before that
    bool hasPitch = false;
    double voicing = 0.0; // smoothed, 0 for noise alone to 1 for the saw alone
    double weightedVoicing = 0.0; // the voicing the targets below were worked out for
    double sawWeight = 0.0, noiseWeight = noiseGain; // now, within the running chunk
    double sawTarget = 0.0, noiseTarget = noiseGain; // at the end of the running chunk
    double sawWeightStep = 0.0, noiseWeightStep = 0.0; // per sample in the running chunk
    double smoothing = 1.0; // per chunk, of pitch and voicing
};

} // namespace lumivox::engine
