#include "band_level_feed.h"

#include <algorithm>

namespace lumivox::job {

namespace {
    constexpr auto relaxed = std::memory_order_relaxed;
}

void BandLevelFeed::publish(std::span<const double> levels, std::uint64_t frameCount,
    double sampleRate, double delaySeconds)
{
    const std::uint64_t number = published.load(relaxed) + 1;
    Slot& slot = ring[static_cast<std::size_t>((number - 1) % slotCount)];
    const auto audibleAt = Clock::now()
        + std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(std::max(0.0, delaySeconds)));

    const std::uint64_t sequence = slot.sequence.load(relaxed);
    slot.sequence.store(sequence + 1, relaxed);
    std::atomic_thread_fence(std::memory_order_release); // the odd count before any new field
    slot.number.store(number, relaxed);
    const std::size_t count = std::min(levels.size(), slot.levels.size());
    for (std::size_t band = 0; band < count; ++band)
        slot.levels[band].store(levels[band], relaxed);
    slot.levelCount.store(static_cast<int>(count), relaxed);
    slot.audibleAt.store(audibleAt.time_since_epoch().count(), relaxed);
    slot.secondsDone.store(
        sampleRate > 0.0 ? static_cast<double>(frameCount) / sampleRate : 0.0, relaxed);
    slot.sampleRate.store(sampleRate, relaxed);
    slot.sequence.store(sequence + 2, std::memory_order_release);
    published.store(number, std::memory_order_release);
}

bool BandLevelFeed::readSlot(const Slot& slot, Entry& entry) const
{
    // A few tries: the writer fills a slot in well under a microsecond, once per block.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::uint64_t before = slot.sequence.load(std::memory_order_acquire);
        if (before % 2 != 0)
            continue;
        entry.number = slot.number.load(relaxed);
        for (std::size_t band = 0; band < entry.levels.size(); ++band)
            entry.levels[band] = slot.levels[band].load(relaxed);
        entry.levelCount = slot.levelCount.load(relaxed);
        entry.audibleAt = Clock::time_point(Clock::duration(slot.audibleAt.load(relaxed)));
        entry.secondsDone = slot.secondsDone.load(relaxed);
        entry.sampleRate = slot.sampleRate.load(relaxed);
        std::atomic_thread_fence(std::memory_order_acquire); // the fields before the second count
        if (slot.sequence.load(relaxed) == before)
            return true;
    }
    return false;
}

std::optional<BandLevelFeed::Entry> BandLevelFeed::newestAudible(
    Clock::time_point now, std::uint64_t after) const
{
    const std::uint64_t newest = publishedCount();
    const std::uint64_t oldest
        = std::max(after + 1, newest > slotCount ? newest - slotCount + 1 : 1);
    Entry entry;
    std::optional<Entry> oldestHeld;
    for (std::uint64_t number = newest; number >= oldest && number > 0; --number) {
        const Slot& slot = ring[static_cast<std::size_t>((number - 1) % slotCount)];
        // A slot refilled since the count was read holds a newer entry, not yet audible here.
        if (!readSlot(slot, entry) || entry.number != number)
            continue;
        if (entry.audibleAt <= now)
            return entry;
        oldestHeld = entry;
    }
    // A job that outruns its device (one that is not paced) can overwrite every entry before it
    // is heard; the oldest one kept is then the nearest to what is heard.
    if (newest > after + slotCount)
        return oldestHeld;
    return std::nullopt;
}

} // namespace lumivox::job
