#pragma once

#include "job/vocoding_job.h"

namespace lumivox::cli {

// The exit statuses that scripts rely on.
namespace exitStatus {
    inline constexpr int finished = 0;
    inline constexpr int failed = 1;
    inline constexpr int badUsage = 2;
    inline constexpr int interrupted = 130; // 128 + SIGINT, as shells report it
} // namespace exitStatus

[[nodiscard]] constexpr int exitStatusFor(job::JobOutcome outcome)
{
    switch (outcome) {
    case job::JobOutcome::Finished:
    case job::JobOutcome::ProgramEnded:
        return exitStatus::finished;
    case job::JobOutcome::Stopped: // only Ctrl-C asks a command-line job to stop
        return exitStatus::interrupted;
    case job::JobOutcome::Failed:
        break;
    }
    return exitStatus::failed;
}

} // namespace lumivox::cli
