#pragma once

#include "engine/engine_constants.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace lumivox::job {

// Hands the engine's band levels from the job's thread to the window's, each stamped with the
// moment it is heard. The job publishes without a lock, an allocation or a wait; the window
// reads the newest entry already audible. A ring of entries, each guarded by its own sequence
// count (a seqlock), so that a preview's levels can wait out the device's latency.
class BandLevelFeed {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int bandCount = engine::mostBands; // room for the levels of any layout
    static constexpr int slotCount = 64; // more blocks than any output latency holds

    struct Entry {
        std::uint64_t number = 0; // 1 for the first entry published, then counting up
        std::array<double, bandCount> levels {};
        int levelCount = 0; // how many of levels the engine gave
        Clock::time_point audibleAt;
        double secondsDone = 0.0; // the audio position these levels belong to
        double sampleRate = 0.0;
    };

    BandLevelFeed() = default;
    BandLevelFeed(const BandLevelFeed&) = delete;
    BandLevelFeed& operator=(const BandLevelFeed&) = delete;

    // The job's thread only (one writer): the levels at the end of a block, frameCount frames
    // into the run, heard delaySeconds from now. Bands past bandCount are left out.
    void publish(std::span<const double> levels, std::uint64_t frameCount, double sampleRate,
        double delaySeconds);

    // Any thread: how many entries have been published so far.
    [[nodiscard]] std::uint64_t publishedCount() const
    {
        return published.load(std::memory_order_acquire);
    }

    // Any thread: the newest entry numbered above `after` that is audible at `now`; none when
    // every such entry is still to be heard. When entries were overwritten before they were
    // heard, the oldest entry still kept stands in for them.
    [[nodiscard]] std::optional<Entry> newestAudible(
        Clock::time_point now, std::uint64_t after) const;

private:
    struct Slot {
        std::atomic<std::uint64_t> sequence { 0 }; // odd while the writer fills the slot
        std::atomic<std::uint64_t> number { 0 };
        std::array<std::atomic<double>, bandCount> levels {};
        std::atomic<int> levelCount { 0 };
        std::atomic<Clock::rep> audibleAt { 0 };
        std::atomic<double> secondsDone { 0.0 };
        std::atomic<double> sampleRate { 0.0 };
    };

    [[nodiscard]] bool readSlot(const Slot& slot, Entry& entry) const;

    std::array<Slot, slotCount> ring {};
    std::atomic<std::uint64_t> published { 0 };
};

} // namespace lumivox::job
