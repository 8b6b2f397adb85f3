#pragma once

#include <cstdint>

namespace lumivox::job {

// How many cores this process may run on: the machine's count, or fewer where the CPU affinity
// mask allows fewer. At least 1.
int usableCoreCount();

// Whether a run should let its engine share blocks with a second thread: only Vocode (a preview
// is paced by playback), only with a second core to run on, and only for inputs long enough
// (a second of 16-bit audio or more) to repay starting a thread.
bool useSecondCore(bool previewing, std::uint64_t monoByteCount);

} // namespace lumivox::job
