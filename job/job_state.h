#pragma once

#include "band_level_feed.h"

#include <atomic>
#include <string>

namespace lumivox::job {

enum class JobMode { Vocode = 0, Preview = 1 };

// The paths and flags that the front end and the job share. The front end writes the paths only
// while no job exists; the flags are polled by the job once per block.
struct JobState {
    std::string carrierPath;
    std::string modulatorPath;
    std::string outputPath; // used by Vocode only

    std::atomic<bool> jobBusy { false }; // set by the job once its set-up succeeded
    std::atomic<bool> previewRunning { false };
    std::atomic<bool> stopRequested { false };
    std::atomic<bool> closeRequested { false };
    // A job thread exists (being set up, running or finishing): a second start is refused.
    std::atomic<bool> jobActive { false };
    // The band levels of each block, for the window's meters.
    BandLevelFeed bandLevels;
};

} // namespace lumivox::job
