#include "band_worker.h"

namespace lumivox::engine {

namespace {

    // Waits until value differs from old. The halves of a task meet every few tens of microseconds,
    // far sooner than a sleeping thread wakes, so it spins for a while before it sleeps.
    void waitWhileEqual(const std::atomic<unsigned>& value, unsigned old)
    {
        for (int spin = 0; spin < 4000; ++spin) {
            if (value.load(std::memory_order_acquire) != old)
                return;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        while (value.load(std::memory_order_acquire) == old)
            value.wait(old, std::memory_order_acquire);
    }

    void advance(std::atomic<unsigned>& value)
    {
        value.fetch_add(1, std::memory_order_acq_rel);
        value.notify_all();
    }

} // namespace

BandWorker::BandWorker()
    : thread([this] { serve(); })
{
}

BandWorker::~BandWorker()
{
    stopping.store(true, std::memory_order_release);
    advance(postedCount);
    thread.join();
}

void BandWorker::runBoth(Task task, void* context)
{
    posted = task;
    postedContext = context;
    const unsigned finished = finishedCount.load(std::memory_order_acquire);
    advance(postedCount);
    task(context, 0);
    waitWhileEqual(finishedCount, finished);
}

void BandWorker::meet(int half)
{
    const unsigned mine = meetings[half].fetch_add(1, std::memory_order_acq_rel) + 1;
    meetings[half].notify_all();
    std::atomic<unsigned>& other = meetings[1 - half];
    unsigned seen = other.load(std::memory_order_acquire);
    // Counts only grow, and neither half can get a meeting ahead of the other.
    while (seen < mine) {
        waitWhileEqual(other, seen);
        seen = other.load(std::memory_order_acquire);
    }
}

void BandWorker::serve()
{
    unsigned seen = 0;
    for (;;) {
        waitWhileEqual(postedCount, seen);
        seen = postedCount.load(std::memory_order_acquire);
        if (stopping.load(std::memory_order_acquire))
            return;
        posted(postedContext, 1);
        advance(finishedCount);
    }
}

} // namespace lumivox::engine
