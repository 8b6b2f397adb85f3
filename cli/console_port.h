#pragma once

#include "job/job_events.h"
#include "progress_bar.h"

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>

namespace lumivox::cli {

// The job's front end on a terminal: the progress goes to an optional bar, and a failure is
// printed as the job's own sentence after the program's name and the file concerned, with its
// cause on the next line.
class ConsolePort final : public job::JobEvents {
public:
    ConsolePort(std::ostream& messages, ProgressBar* bar);

    void started(job::JobMode) override { progress(0); }
    void progress(int percent) override;
    void showFailure(std::string_view message, const job::FailureDetail& detail) override;
    bool askQuestion(std::string_view message) override;
    void endProgram() override;
    void released(job::JobMode) override { } // a terminal has no controls to hand back
    void ended(const job::RunReport& report) override { clipped = report.clippedSamples; }

    // Once this flag is up the bar keeps the percentage reached, rather than the 100 that a
    // stopped job still reports.
    void holdProgressWhile(const std::atomic<bool>& stopFlag) { holdFlag = &stopFlag; }

    [[nodiscard]] const std::string& lastError() const { return errorMessage; }
    [[nodiscard]] bool programEndRequested() const { return endRequested; }
    // Output samples the run had to clamp to full scale.
    [[nodiscard]] std::uint64_t clippedSamples() const { return clipped; }

private:
    std::ostream& messages;
    ProgressBar* bar;
    const std::atomic<bool>* holdFlag = nullptr;
    std::string errorMessage;
    bool endRequested = false;
    std::uint64_t clipped = 0;
};

} // namespace lumivox::cli
