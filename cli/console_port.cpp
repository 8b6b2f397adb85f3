#include "console_port.h"

#include "command_line.h"
#include "shown_name.h"

namespace lumivox::cli {

ConsolePort::ConsolePort(std::ostream& messageStream, ProgressBar* progressBar)
    : messages(messageStream)
    , bar(progressBar)
{
}

void ConsolePort::progress(int percent)
{
    if (bar == nullptr || (holdFlag != nullptr && holdFlag->load()))
        return;
    bar->show(percent);
}

// "lumivox-cli: FILE: MESSAGE", then "lumivox-cli: CAUSE": every line says whose it is.
void ConsolePort::showFailure(std::string_view message, const job::FailureDetail& detail)
{
    if (bar != nullptr)
        bar->finish();
    errorMessage = message;
    messages << programName << ": ";
    if (!detail.file.empty())
        messages << shownName(detail.file) << ": ";
    messages << message << '\n';
    if (!detail.cause.empty())
        messages << programName << ": " << detail.cause << '\n';
    messages << std::flush;
}

// The job asks only when the window is being closed, which cannot happen here; No keeps the run.
bool ConsolePort::askQuestion(std::string_view) { return false; }

void ConsolePort::endProgram() { endRequested = true; }

} // namespace lumivox::cli
