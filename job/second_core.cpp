#include "second_core.h"

#include <algorithm>
#include <sched.h>
#include <thread>

namespace lumivox::job {

int usableCoreCount()
{
    int cores = static_cast<int>(std::thread::hardware_concurrency());
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        cores = cores > 0 ? std::min(cores, CPU_COUNT(&allowed)) : CPU_COUNT(&allowed);
    return std::max(cores, 1);
}

bool useSecondCore(bool previewing, std::uint64_t frameCount, std::uint32_t sampleRate)
{
    return !previewing && frameCount >= sampleRate && usableCoreCount() > 1;
}

CorePair::CorePair()
{
    CPU_ZERO(&callersCores);
    const int core = sched_getcpu();
    if (core < 0 || core >= CPU_SETSIZE
        || sched_getaffinity(0, sizeof callersCores, &callersCores) != 0
        || !CPU_ISSET(core, &callersCores) || CPU_COUNT(&callersCores) < 2)
        return;
    cpu_set_t own;
    CPU_ZERO(&own);
    CPU_SET(core, &own);
    if (sched_setaffinity(0, sizeof own, &own) != 0)
        return;
    holding = true;
    callersCore = core;
}

CorePair::~CorePair()
{
    if (holding)
        sched_setaffinity(0, sizeof callersCores, &callersCores);
}

void CorePair::keepOffCallersCore() const
{
    if (!holding)
        return;
    cpu_set_t others = callersCores;
    CPU_CLR(callersCore, &others);
    sched_setaffinity(0, sizeof others, &others);
}

} // namespace lumivox::job
