#pragma once

#include "job_events.h"
#include "job_settings.h"
#include "job_state.h"
#include "vocoding_job.h"

#include <atomic>
#include <thread>

namespace lumivox::job {

// Starts at most one background job at a time. The owner never waits for a running job; the
// destructor joins only a thread whose job has already returned or is returning.
class JobThread {
public:
    JobThread(JobState& state, JobEvents& events);
    ~JobThread();
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;

    enum class StartResult { Started, AlreadyActive, ThreadFailed };

    // Refuses while a job exists, even one still being set up.
    [[nodiscard]] StartResult tryStart(JobSettings settings);

private:
    JobState& state;
    JobEvents& events;
    std::thread worker;
    // Set when the running job has asked the program to end: it only returns after that.
    std::atomic<bool> endingProgram { false };
};

} // namespace lumivox::job
