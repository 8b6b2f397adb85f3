#include "band_worker.h"

#include "spin_wait.h"

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
        // Work is often posted again within microseconds (the next run), or after the caller
        // has read and written a block, sooner than a sleeping thread wakes (tens of
        // microseconds, more on a virtual machine). So the worker spins that long before it
        // sleeps; not longer, for spinning takes the core's time from others on a busy machine.
        spinUntil([&] { return posted.load(std::memory_order_acquire) != seen; });
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
