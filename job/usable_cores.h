#pragma once

namespace lumivox::job {

// How many cores this process may run on: the machine's count, or fewer where the CPU affinity
// mask allows fewer. At least 1.
int usableCoreCount();

} // namespace lumivox::job
