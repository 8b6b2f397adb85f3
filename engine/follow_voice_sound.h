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
    FollowVoiceSound(double sampleRate, int semitones); // may throw std::bad_alloc

    void listen(std::span<const double> modulator) override;
    void render(std::span<double> out) override;

    static constexpr double sawGain = 0.27; // the saw's peaks near -6 dBFS
    static constexpr double noiseGain = 0.424; // white noise at the saw's RMS level
    static constexpr std::uint64_t noiseSeed = 0x466f6c6c6f77ull;

private:
    void startChunk(double centre);
    void bridgeDropout();

    double sampleRate;
    double ratio; // of the sound's pitch to the voice's
    PitchTracker tracker;
    BandLimitedSaw saw;
    WhiteNoise noise { noiseSeed };

    // The frames not yet passed by rendering, oldest first, in a ring.
    std::array<PitchEstimate, 64> frames {};
    std::size_t firstFrame = 0;
    std::size_t frameCount = 0;

    double renderedFrames = 0.0;
    int chunkLeft = 0; // samples left before the next pitch update, in step with the saw
    double logPitch = 0.0; // of the saw, log2 of cycles per sample, smoothed
    double tunedLogPitch = 1.0; // as the saw was last set; 1 (no frequency) before that
    bool hasPitch = false;
    double voicing = 0.0; // smoothed, 0 for noise alone to 1 for the saw alone
    double sawWeight = 0.0, noiseWeight = 1.0; // at the start of the running chunk
    double sawWeightStep = 0.0, noiseWeightStep = 0.0; // per sample in the running chunk
    double smoothing = 1.0; // per chunk, of pitch and voicing
};

} // namespace lumivox::engine
