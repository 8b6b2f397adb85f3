#pragma once

#include "job/job_events.h"
#include "progress_bar.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace lumivox::cli {

// The job's front end on a terminal: the progress goes to an optional bar, and a failure is
// printed as the job's own sentence after the program's name and the file concerned, with its
// cause on the next line after the program's name again.
class ConsolePort final : public job::JobEvents {
public:
    ConsolePort(std::ostream& messages, ProgressBar* bar);

    void started(job::JobMode) override { progress(0); }
    void progress(int percent) override;
    void showFailure(std::string_view message, const job::FailureDetail& detail) override;
    bool askQuestion(std::string_view message) override;
    void endProgram() override;
    void released(job::JobMode) override { } // a terminal has no controls to hand back
    void ended(const job::RunReport& report) override { runReport = report; }

    // Once this flag is up the bar keeps the percentage reached, rather than the 100 that a
    // stopped job still reports.
    void holdProgressWhile(const std::atomic<bool>& stopFlag) { holdFlag = &stopFlag; }

    [[nodiscard]] const std::string& lastError() const { return errorMessage; }
    [[nodiscard]] bool programEndRequested() const { return endRequested; }
    // How the run ended, as the job reported it (default values until it has).
    [[nodiscard]] const job::RunReport& report() const { return runReport; }

private:
    std::ostream& messages;
    ProgressBar* bar;
    const std::atomic<bool>* holdFlag = nullptr;
    std::string errorMessage;
    bool endRequested = false;
    job::RunReport runReport;
};

} // namespace lumivox::cli
