#include "band_worker.h"

namespace lumivox::engine {

void waitWhileEqual(const std::atomic<unsigned>& value, unsigned old)
{
    // Work is usually posted again within tens of microseconds, far sooner than a sleeping
    // thread wakes.
    for (int spin = 0; spin < 2000; ++spin) {
        if (value.load(std::memory_order_acquire) != old)
            return;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    while (value.load(std::memory_order_acquire) == old)
        value.wait(old, std::memory_order_acquire);
}

BandWorker::BandWorker(Task workerTask, void* workerContext)
    : task(workerTask)
    , context(workerContext)
    , thread([this] { serve(); })
{
}

BandWorker::~BandWorker()
{
    stopping.store(true, std::memory_order_release);
    posted.fetch_add(1, std::memory_order_acq_rel);
    posted.notify_one();
    thread.join();
}

void BandWorker::post(unsigned number)
{
    posted.store(number, std::memory_order_release);
    posted.notify_one();
}

void BandWorker::serve()
{
    // Compared with the value the worker was made with, not read here: a post, or the destructor,
    // may come before this thread first runs.
    unsigned seen = 0;
    for (;;) {
        waitWhileEqual(posted, seen);
        if (stopping.load(std::memory_order_acquire))
            return;
        seen = posted.load(std::memory_order_acquire);
        task(context, seen);
    }
}

} // namespace lumivox::engine
