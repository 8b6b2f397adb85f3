#pragma once

#include "job/dialog_port.h"
#include "progress_bar.h"

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>

namespace lumivox::cli {

struct SliderPositions {
    int clearance = 0;
    int vagueness = 0;
    int gain = 50;
};

// The job's front end on a terminal: the sliders are the command-line values, the progress goes to
// an optional bar, and an error is printed as the job's own sentence after the program's name and
// the file concerned, with its cause on the next line after the program's name again.
class ConsolePort final : public job::DialogPort {
public:
    ConsolePort(SliderPositions sliders, std::ostream& messages, ProgressBar* bar);

    int readSlider(int controlId) override;
    void setProgress(int percent) override;
    void setButtonText(int controlId, std::string_view text) override;
    void enableControl(int controlId, bool enabled) override;
    void showError(std::string_view message) override;
    void showFailure(std::string_view message, const job::FailureDetail& detail) override;
    bool askQuestion(std::string_view message) override;
    void endProgram() override;
    void reportRunEnd(const job::RunReport& report) override { runReport = report; }

    // Once this flag is up the bar keeps the percentage reached, rather than the 100 that a
    // stopped job still reports.
    void holdProgressWhile(const std::atomic<bool>& stopFlag) { holdFlag = &stopFlag; }

    [[nodiscard]] const std::string& lastError() const { return errorMessage; }
    [[nodiscard]] bool programEndRequested() const { return endRequested; }
    // How the run ended, as the job reported it (default values until it has).
    [[nodiscard]] const job::RunReport& report() const { return runReport; }

private:
    SliderPositions sliders;
    std::ostream& messages;
    ProgressBar* bar;
    const std::atomic<bool>* holdFlag = nullptr;
    std::string errorMessage;
    bool endRequested = false;
    job::RunReport runReport;
};

} // namespace lumivox::cli
