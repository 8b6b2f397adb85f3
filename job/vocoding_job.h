#pragma once

#include "dialog_port.h"
#include "job_environment.h"
#include "job_state.h"

namespace lumivox::job {

enum class JobOutcome {
    Finished, // the shorter input was used up
    Stopped, // Cancel or Stop ended the run early; the output is complete as far as it went
    Failed, // a check or a write failed; the message has been shown through the port
    ProgramEnded, // a close request ended the run and endProgram() was called
};

// One run from start to finish on the calling thread. Every failure is reported through the port.
JobOutcome runVocodingJob(JobMode mode, JobState& state, DialogPort& port);

// The same with some of the job's resources supplied by the caller.
JobOutcome runVocodingJob(
    JobMode mode, JobState& state, DialogPort& port, const JobEnvironment& environment);

} // namespace lumivox::job
