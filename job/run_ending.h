#pragma once

#include "job_events.h"
#include "job_state.h"
#include "run_report.h"
#include "run_sinks.h"
#include "run_sources.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace lumivox::job {

// How a Vocode or a Preview ends: what it hands back, and what it tells the front end.

// The controls a run has taken over, handed back when it is destroyed; a run that ends the
// program leaves them as they are.
class ControlsHandBack {
public:
    ControlsHandBack(JobEvents& frontEnd, JobMode runMode)
        : events(frontEnd)
        , mode(runMode)
    {
    }
    ~ControlsHandBack()
    {
        if (taken)
            events.released(mode);
    }
    ControlsHandBack(const ControlsHandBack&) = delete;
    ControlsHandBack& operator=(const ControlsHandBack&) = delete;

    void take(JobState& state)
    {
        events.started(mode);
        if (mode == JobMode::Preview)
            state.previewRunning = true;
        taken = true;
    }
    void keep() { taken = false; }

private:
    JobEvents& events;
    JobMode mode;
    bool taken = false;
};

// Clears the job's flags when destroyed, whatever way the run went.
class FlagsClearer {
public:
    explicit FlagsClearer(JobState& jobState)
        : state(jobState)
    {
    }
    ~FlagsClearer()
    {
        state.jobBusy = false;
        state.previewRunning = false;
        state.stopRequested = false;
    }
    FlagsClearer(const FlagsClearer&) = delete;
    FlagsClearer& operator=(const FlagsClearer&) = delete;

private:
    JobState& state;
};

// How a run ends: its outcome and, for a failure, the message and its second line. An
// out-of-memory failure is told after everything is handed back, when it can be.
struct RunEnding {
    JobOutcome outcome = JobOutcome::Finished;
    std::string_view message;
    FailureDetail detail;
    bool messageAfterRelease = false;

    [[nodiscard]] static RunEnding endedAs(JobOutcome outcome)
    {
        RunEnding ending;
        ending.outcome = outcome;
        return ending;
    }
    [[nodiscard]] static RunEnding failed(RunFailure failure)
    {
        RunEnding ending = endedAs(JobOutcome::Failed);
        ending.message = failure.message;
        ending.detail = std::move(failure.detail);
        return ending;
    }
};

// What a run has done, kept for its report: the frames it made and, once it ends, what its
// inputs and its output held. It outlives the inputs and the sink it was taken from.
struct RunTally {
    std::uint32_t sampleRate = 0; // the output's
    std::uint64_t framesDone = 0;
    std::uint64_t framesTotal = 0;

    // Takes what the inputs came to (after the run: what was read of each).
    void noteInputs(const RunInputs& inputs, bool afterTheLoop);
    // Takes what the output held: a normalized file's level is known only once it is finished.
    void noteOutput(const RunSink& sink);
    // The report of a run that ended this way.
    [[nodiscard]] RunReport report(JobMode mode, const RunEnding& ending) const;

private:
    [[nodiscard]] double seconds(std::uint64_t frameCount) const;

    std::string conversion;
    double carrierSeconds = 0.0;
    double modulatorSeconds = 0.0;
    bool leftOutAtLeast = false;
    bool totalKnown = true; // see RunReport::totalKnown
    std::optional<ShortInput> shortInput;
    std::uint64_t clippedSamples = 0;
    double peak = 0.0;
    double clipFreeGain = std::numeric_limits<double>::infinity();
    bool floatOutput = false;
    std::string outputNote;
    std::optional<double> normalizedBy;
};

} // namespace lumivox::job
