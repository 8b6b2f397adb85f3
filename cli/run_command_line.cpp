#include "run_command_line.h"

#include "command_line.h"
#include "console_port.h"
#include "exit_status.h"
#include "interrupt_to_stop.h"
#include "job/audio_library.h"
#include "job/job_state.h"
#include "job/vocoding_job.h"
#include "progress_bar.h"
#include "run_end_text.h"

namespace lumivox::cli {

namespace {

    job::JobOutcome runJob(const CliOptions& options, job::JobState& state, job::DialogPort& port)
    {
        if (!options.preview)
            return job::runVocodingJob(job::JobMode::Vocode, state, port);
        // Only a preview needs the audio system: a file run must not touch any device.
        job::startAudioLibrary();
        const job::JobOutcome outcome = job::runVocodingJob(job::JobMode::Preview, state, port);
        job::endAudioLibrary();
        return outcome;
    }

    // Help or version text that did not reach its reader is a failure, as for any command.
    int printed(Console console, const std::string& text)
    {
        if (console.output << text << std::flush)
            return exitStatus::finished;
        console.errors << programName << ": the text could not be written\n" << std::flush;
        return exitStatus::failed;
    }

} // namespace

int runCommandLine(std::span<const std::string_view> arguments, Console console)
{
    const ParsedCommand command = parseCommandLine(arguments);
    switch (command.kind) {
    case CommandKind::Help:
        return printed(console, usageText());
    case CommandKind::Version:
        return printed(console, std::string(versionText) + '\n');
    case CommandKind::BadUsage:
        console.errors << badUsageLine(command.problem) << '\n' << std::flush;
        return exitStatus::badUsage;
    case CommandKind::Run:
        break;
    }

    const CliOptions& options = command.options;
    job::JobState state;
    state.carrierPath = options.carrierPath;
    state.modulatorPath = options.modulatorPath;
    state.outputPath = options.outputPath;

    ProgressBar bar(console.errors);
    const bool showProgress = console.errorsOnTerminal && !options.quiet;
    ConsolePort port({ options.clearance, options.vagueness, options.gain }, console.errors,
        showProgress ? &bar : nullptr);
    port.holdProgressWhile(state.stopRequested);

    job::JobOutcome outcome;
    int stopSignal = 0;
    {
        const InterruptToStop interruptToStop(state.stopRequested);
        outcome = runJob(options, state, port);
        stopSignal = interruptToStop.signalNumber();
    }
    if (showProgress && outcome == job::JobOutcome::Finished)
        bar.show(100);
    bar.finish();
    if (!options.quiet)
        console.errors << runEndLines(port.report(), options.outputPath) << std::flush;
    if (outcome == job::JobOutcome::Stopped && stopSignal != 0)
        return 128 + stopSignal; // as a shell reports a program ended by that signal
    return exitStatusFor(outcome);
}

} // namespace lumivox::cli
