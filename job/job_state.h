#pragma once

#include "band_level_feed.h"
#include "job_settings.h"

#include <atomic>

namespace lumivox::job {

// The flags that the front end and the job share for the life of the program, and the feed of
// band levels. The job looks at the two requests once per block.
struct JobState {
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
