#include "band_worker.h"

namespace lumivox::engine {

BandWorker::BandWorker(Task workerTask, void* workerContext)
    : task(workerTask)
    , context(workerContext)
    , thread([this] { serve(); })
{
}

BandWorker::~BandWorker()
{
    stopping.store(true);
    posted.fetch_add(1);
    posted.notify_one();
    thread.join();
}

// Sequentially consistent: either the worker sees the new number before it sleeps, or this sees
// that it sleeps and wakes it.
bool BandWorker::post(unsigned number)
{
    posted.store(number);
    if (!sleeping.load())
        return false;
    posted.notify_one();
    return true;
}

void BandWorker::serve()
{
    // Compared with the value the worker was made with, not read here: a post, or the destructor,
    // may come before this thread first runs.
    unsigned seen = 0;
    for (;;) {
        // Work is often posted again within microseconds, sooner than a sleeping thread wakes, so
        // the worker spins a little before it sleeps; not long, for spinning takes the core's
        // time from others on a busy machine.
        for (int spin = 0; spin < 1000 && posted.load(std::memory_order_acquire) == seen; ++spin) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        sleeping.store(true);
        while (posted.load() == seen)
            posted.wait(seen);
        sleeping.store(false);
        if (stopping.load())
            return;
        seen = posted.load(std::memory_order_acquire);
        task(context, seen);
    }
}

} // namespace lumivox::engine
