#include "band_exchange.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace lumivox::engine {

namespace {

    // Polls before a wait sleeps: a few microseconds, about as long as the sides drift apart in
    // a chunk of frames; sleeping and waking would cost more.
    constexpr int spinPolls = 2000;
    // Added to every count when abandoned, so that every wait's goal is passed.
    constexpr int abandonedFrames = 1 << 30;

    void relax()
    {
#if defined(__x86_64__) || defined(__i386__)
        _mm_pause();
#endif
    }

} // namespace

BandExchange::BandExchange(int capacity)
    : frameCapacity(capacity)
    , values(3 * static_cast<std::size_t>(capacity))
    , edges(2 * static_cast<std::size_t>(capacity) * edgeValues / 8)
    , lastLevels(mostBands)
{
}

void BandExchange::reset()
{
    for (Counter& each : counters)
        each.frames.store(0, std::memory_order_relaxed);
    stopped.store(false, std::memory_order_release);
}

void BandExchange::abandon()
{
    stopped.store(true, std::memory_order_release);
    for (Counter& each : counters) {
        each.frames.fetch_add(abandonedFrames, std::memory_order_acq_rel);
        each.frames.notify_all();
    }
}

void BandExchange::announce(Step step, int frames)
{
    std::atomic<int>& done = counter(step).frames;
    done.fetch_add(frames - (done.load(std::memory_order_relaxed) % abandonedFrames),
        std::memory_order_release);
    done.notify_one();
}

bool BandExchange::waitFor(Step step, int frames)
{
    std::atomic<int>& done = counter(step).frames;
    int seen = done.load(std::memory_order_acquire);
    for (int poll = 0; seen < frames && poll < spinPolls; ++poll) {
        relax();
        seen = done.load(std::memory_order_acquire);
    }
    while (seen < frames) {
        done.wait(seen, std::memory_order_acquire);
        seen = done.load(std::memory_order_acquire);
    }
    return !abandoned();
}

} // namespace lumivox::engine
