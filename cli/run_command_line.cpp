#include "run_command_line.h"

#include "command_line.h"
#include "console_port.h"
#include "exit_status.h"
#include "interrupt_to_stop.h"
#include "job/audio_library.h"
#include "job/job_state.h"
#include "job/vocoding_job.h"
#include "live_command_line.h"
#include "progress_bar.h"
#include "run_end_text.h"
#include "shown_name.h"

namespace lumivox::cli {

namespace {

    job::JobSettings settingsFrom(const CliOptions& options, engine::VectorChoice vectors)
    {
        job::JobSettings settings;
        settings.vectors = vectors;
        settings.mode = options.preview ? job::JobMode::Preview : job::JobMode::Vocode;
        settings.carrierPath = options.carrierPath;
        settings.modulatorPath = options.modulatorPath;
        settings.outputPath = options.outputPath;
        settings.sound.clearance = options.clearance;
        settings.sound.vagueness = options.vagueness;
        settings.sound.gain = options.gain;
        settings.sound.clarity = options.clarity;
        settings.carrier = options.carrier;
        settings.repeatCarrier = options.repeatCarrier;
        settings.normalizeDecibels = options.normalizeDecibels;
        settings.bands = options.bands;
        return settings;
    }

    job::JobOutcome runJob(
        const job::JobSettings& settings, job::JobState& state, job::JobEvents& events)
    {
        if (settings.mode == job::JobMode::Vocode)
            return job::runVocodingJob(settings, state, events);
        // Only a preview needs the audio system: a file run must not touch any device.
        job::startAudioLibrary();
        const job::JobOutcome outcome = job::runVocodingJob(settings, state, events);
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

int runCommandLine(
    std::span<const std::string_view> arguments, Console console, engine::VectorChoice vectors)
{
    if (asksForLive(arguments))
        return runLiveCommandLine(arguments, console);
    const ParsedCommand command = parseCommandLine(arguments);
    switch (command.kind) {
    case CommandKind::Help:
        return printed(console, usageText() + '\n' + liveUsageText());
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

    ProgressBar bar(console.errors);
    const bool showProgress = console.errorsOnTerminal && !options.quiet;
    ConsolePort port(console.errors, showProgress ? &bar : nullptr);
    port.holdProgressWhile(state.stopRequested);

    job::JobOutcome outcome;
    int stopSignal = 0;
    {
        const InterruptToStop interruptToStop(state.stopRequested);
        outcome = runJob(settingsFrom(options, vectors), state, port);
        stopSignal = interruptToStop.signalNumber();
    }
    if (showProgress && outcome == job::JobOutcome::Finished)
        bar.show(100);
    bar.finish();
    // Said even with --quiet: the output is shorter than the inputs promised.
    if (const auto& shortInput = port.report().shortInput)
        console.errors << programName << ": " << job::shortInputWarning(*shortInput) << '\n'
                       << std::flush;
    // Said even with --quiet too: the file is not in the format its name promises.
    if (!port.report().outputNote.empty())
        console.errors << programName << ": " << shownName(options.outputPath) << ": "
                       << shownName(port.report().outputNote) << '\n'
                       << std::flush;
    if (!options.quiet)
        console.errors << runEndLines(port.report(), options.outputPath) << std::flush;
    if (outcome == job::JobOutcome::Stopped && stopSignal != 0)
        return 128 + stopSignal; // as a shell reports a program ended by that signal
    return exitStatusFor(outcome);
}

} // namespace lumivox::cli
