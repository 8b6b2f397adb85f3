#pragma once

#include "job_environment.h"
#include "job_events.h"
#include "job_settings.h"
#include "job_state.h"
#include "run_report.h"

namespace lumivox::job {

// One run from start to finish on the calling thread, with the settings it is given. Every failure
// is told through the events.
JobOutcome runVocodingJob(const JobSettings& settings, JobState& state, JobEvents& events,
    const JobEnvironment& environment = {});

} // namespace lumivox::job
