#include "console_port.h"

#include "command_line.h"
#include "job/control_ids.h"

namespace lumivox::cli {

ConsolePort::ConsolePort(
    SliderPositions positions, std::ostream& messageStream, ProgressBar* progressBar)
    : sliders(positions)
    , messages(messageStream)
    , bar(progressBar)
{
}

int ConsolePort::readSlider(int controlId)
{
    switch (controlId) {
    case job::control::clearanceSlider:
        return sliders.clearance;
    case job::control::vaguenessSlider:
        return sliders.vagueness;
    case job::control::gainSlider:
        return sliders.gain;
    default:
        return 0;
    }
}

void ConsolePort::setProgress(int percent)
{
    if (bar == nullptr || (holdFlag != nullptr && holdFlag->load()))
        return;
    bar->show(percent);
}

// A terminal has no buttons to rename or grey out.
void ConsolePort::setButtonText(int, std::string_view) { }
void ConsolePort::enableControl(int, bool) { }

void ConsolePort::showError(std::string_view message) { showFailure(message, {}); }

// "lumivox-cli: FILE: MESSAGE", then "lumivox-cli: CAUSE": every line says whose it is.
void ConsolePort::showFailure(std::string_view message, const job::FailureDetail& detail)
{
    if (bar != nullptr)
        bar->finish();
    errorMessage = message;
    messages << programName << ": ";
    if (!detail.file.empty())
        messages << detail.file << ": ";
    messages << message << '\n';
    if (!detail.cause.empty())
        messages << programName << ": " << detail.cause << '\n';
    messages << std::flush;
}

// The job asks only when the window is being closed, which cannot happen here; No keeps the run.
bool ConsolePort::askQuestion(std::string_view) { return false; }

void ConsolePort::endProgram() { endRequested = true; }

} // namespace lumivox::cli
