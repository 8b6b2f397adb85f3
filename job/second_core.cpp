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

} // namespace lumivox::job
