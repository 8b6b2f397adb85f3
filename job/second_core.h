#pragma once

#include <cstdint>

namespace lumivox::job {

// How many cores this process may run on: the machine's count, or fewer where the CPU affinity
// mask allows fewer. At least 1.
int usableCoreCount();

// Whether a run may try a second thread: only a Vocode (a preview is paced by playback), only
// where this process may use a second core, and only for inputs
// of a second or more (frameCount frames at sampleRate): a shorter run is over before timing its
// first blocks could tell which way is faster.
bool useSecondCore(bool previewing, std::uint64_t frameCount, std::uint32_t sampleRate);

} // namespace lumivox::job
