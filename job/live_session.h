#pragma once

#include "band_level_feed.h"
#include "carrier_supply.h"
#include "engine/filter_primitives.h"
#include "job_settings.h"
#include "record_ring.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace lumivox::engine {
class VocoderEngine;
}

namespace lumivox::job {

// The levels of the latest stretch of a live run, for a status line or meters.
struct LiveMeters {
    float inputPeak = 0.0F; // of the voice, full scale 1
    float outputPeak = 0.0F; // of what was played, full scale 1
};

// The vocoder as an audio callback drives it: one period of voice (and carrier port) in, one of
// output out. process() allocates nothing, takes no lock and waits on nothing; settings and meters
// cross between threads through atomics, and what is played goes to the record ring, if any.
class LiveSession {
public:
    // maxFrames is the most frames one call of the engine takes; longer periods are done in pieces.
    // record, when given, must outlive the session. May throw std::bad_alloc.
    LiveSession(std::unique_ptr<LiveCarrier> carrier, const SoundSettings& sound,
        std::size_t maxFrames, RecordRing* record);
    // The same with the bands of a layout designed at the run's rate, and its level gain.
    LiveSession(std::unique_ptr<LiveCarrier> carrier, const SoundSettings& sound,
        std::size_t maxFrames, RecordRing* record, const engine::DesignedBands& bands);
    ~LiveSession();
    LiveSession(const LiveSession&) = delete;
    LiveSession& operator=(const LiveSession&) = delete;

    // The audio thread: the period's voice and carrier port (empty when there is none) in, the
    // output (full scale 1, within +-1) out; all three as long as the period, the port excepted.
    void process(std::span<const float> voice, std::span<const float> carrierPort,
        std::span<float> out) noexcept;

    // Any thread: the sliders, heard from the next period.
    void setSound(const SoundSettings& sound);
    // Any thread: the peaks since the previous call.
    [[nodiscard]] LiveMeters takeMeters();
    [[nodiscard]] std::uint64_t framesPlayed() const
    {
        return played.load(std::memory_order_acquire);
    }

    // Before the audio starts: the band levels of every period are published to feed (for a
    // window's meters), as heard at once.
    void publishBandLevels(BandLevelFeed* feed, double sampleRate);

    // The engine's band-pass filters, for working out their delay before the run starts, and the
    // frames Clarity holds each band's input back by while it is on.
    [[nodiscard]] std::span<const engine::FilterCascade> bandFilters() const;
    [[nodiscard]] std::span<const int> bandsHeldBackByClarity() const;

private:
    void applySoundIfChanged();
    void vocode(
        std::span<const float> voice, std::span<const float> carrierPort, std::span<float> out);

    std::unique_ptr<engine::VocoderEngine> engine;
    double levelGain = 1.0; // the layout's
    std::unique_ptr<LiveCarrier> carrier;
    RecordRing* record;
    BandLevelFeed* levelFeed = nullptr;
    double levelRate = 0.0;
    std::vector<double> voiceValues;
    std::vector<double> carrierValues;
    std::vector<double> outputValues;

    // Written by setSound, read by the audio thread; the generation says when to read them.
    std::atomic<int> clearance;
    std::atomic<int> vagueness;
    std::atomic<int> gain;
    std::atomic<int> clarity;
    std::atomic<std::uint32_t> soundGeneration { 1 };
    std::uint32_t appliedGeneration = 0; // the audio thread's own

    std::atomic<float> inputPeak { 0.0F };
    std::atomic<float> outputPeak { 0.0F };
    std::atomic<std::uint64_t> played { 0 };
};

} // namespace lumivox::job
