#pragma once

#include "dialog_port.h"
#include "job_environment.h"
#include "job_state.h"
#include "run_report.h"

namespace lumivox::job {

// One run from start to finish on the calling thread. Every failure is reported through the port.
JobOutcome runVocodingJob(JobMode mode, JobState& state, DialogPort& port);

// The same with some of the job's resources supplied by the caller.
JobOutcome runVocodingJob(
    JobMode mode, JobState& state, DialogPort& port, const JobEnvironment& environment);

} // namespace lumivox::job
