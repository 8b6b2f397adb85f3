#pragma once

#include <cstdint>
#include <sched.h>

namespace lumivox::job {

// How many cores this process may run on: the machine's count, or fewer where the CPU affinity
// mask allows fewer. At least 1.
int usableCoreCount();

// Whether a run may try a second thread: only a Vocode (a preview is paced by playback), only
// where this process may use a second core, and only for inputs
// of a second or more (frameCount frames at sampleRate): a shorter run is over before timing its
// first blocks could tell which way is faster.
bool useSecondCore(bool previewing, std::uint64_t frameCount, std::uint32_t sampleRate);

// Keeps the two threads of a segment on two cores. Made on the calling thread, it holds that
// thread to the core it runs on until destroyed (then gives it back the cores it had); the second
// thread calls keepOffCallersCore as it starts. A new thread is often started on the core of the
// thread that started it and left there for milliseconds, and a waking thread is often moved to
// its waker's core: two threads that wait for each other many times a block can afford neither.
// Where the process may use one core only, or the cores cannot be told, it does nothing.
class CorePair {
public:
    CorePair();
    ~CorePair();
    CorePair(const CorePair&) = delete;
    CorePair& operator=(const CorePair&) = delete;

    // On the second thread: every core the caller had but the caller's own.
    void keepOffCallersCore() const;

private:
    bool holding = false;
    int callersCore = -1;
    cpu_set_t callersCores;
};

} // namespace lumivox::job
