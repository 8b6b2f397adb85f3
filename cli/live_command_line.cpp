#include "live_command_line.h"

#include "command_line.h"
#include "exit_status.h"
#include "interrupt_to_stop.h"
#include "shown_name.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

namespace lumivox::cli {

namespace {

    ParsedLiveCommand badUsage(std::string problem)
    {
        ParsedLiveCommand command;
        command.problem = std::move(problem);
        return command;
    }

    // An argument as the line shows it: in quotes, with what a terminal would act on escaped.
    std::string quoted(std::string_view text) { return quotedName(text); }

    int* sliderField(job::SoundSettings& sound, std::string_view name)
    {
        if (name == "--clearance")
            return &sound.clearance;
        if (name == "--vagueness")
            return &sound.vagueness;
        if (name == "--gain")
            return &sound.gain;
        if (name == "--clarity")
            return &sound.clarity;
        return nullptr;
    }

    std::string milliseconds(double seconds)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000.0);
        return text;
    }

    // The live run's front end on a terminal or a log: one status line a second.
    class LiveConsole final : public job::LiveEvents {
    public:
        LiveConsole(Console terminal, bool silent)
            : console(terminal)
            , quiet(silent)
        {
        }
        void started(const job::LiveStart& start) override
        {
            console.errors << liveStartText(start) << std::flush;
        }
        void status(const job::LiveStatus& status) override
        {
            if (quiet)
                return;
            // On a terminal the line is written over; in a log each second gets its own.
            if (console.errorsOnTerminal)
                console.errors << '\r' << liveStatusLine(status) << "\033[K" << std::flush;
            else
                console.errors << liveStatusLine(status) << '\n' << std::flush;
            statusShown = true;
        }
        void endStatus()
        {
            if (statusShown && console.errorsOnTerminal)
                console.errors << '\n' << std::flush;
        }

    private:
        Console console;
        bool quiet;
        bool statusShown = false;
    };

} // namespace

bool asksForLive(std::span<const std::string_view> arguments)
{
    for (const std::string_view argument : arguments) {
        if (argument == "--")
            return false;
        if (argument == "--live")
            return true;
    }
    return false;
}

ParsedLiveCommand parseLiveCommandLine(std::span<const std::string_view> arguments)
{
    ParsedLiveCommand command;
    job::LiveSettings& settings = command.settings;
    std::vector<std::string_view> operands;
    bool optionsEnded = false;
    bool soundGiven = false;
    std::optional<engine::LayoutChoice> bandsGiven;
    std::optional<engine::BandRange> rangeGiven;

    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string_view argument = arguments[index];
        if (optionsEnded || argument.size() < 2 || argument.front() != '-') {
            operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const auto equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        const bool hasInlineValue = equals != std::string_view::npos;
        const auto value = [&](std::string_view& out) {
            if (hasInlineValue)
                out = argument.substr(equals + 1);
            else if (index + 1 < arguments.size())
                out = arguments[++index];
            else
                return false;
            return true;
        };

        if (int* field = sliderField(settings.sound, name)) {
            std::string_view text;
            const bool given = value(text);
            if (std::string problem
                = readSliderOption(name, given ? std::optional(text) : std::nullopt, *field);
                !problem.empty())
                return badUsage(std::move(problem));
        } else if (name == "--carrier-sound") {
            std::string_view text;
            if (!value(text))
                return badUsage("option '--carrier-sound' needs a value");
            std::string problem;
            const auto choice = parseCarrierSound(text, problem);
            if (!choice)
                return badUsage(problem);
            settings.carrier = *choice;
            soundGiven = true;
        } else if (name == "--bands" || name == "--band-range") {
            std::string_view text;
            if (!value(text))
                return badUsage("option " + quoted(name) + " needs a value");
            if (name == "--bands") {
                const auto layout = parseBandsValue(text);
                if (!layout)
                    return badUsage(quoted(text)
                        + " is not a band layout: give a count from 4 to 64, classic or speech");
                bandsGiven = *layout;
            } else {
                std::string problem;
                const auto range = parseBandRange(text, problem);
                if (!range)
                    return badUsage(problem);
                rangeGiven = *range;
            }
        } else if (name == "--record") {
            std::string_view text;
            if (!value(text))
                return badUsage("option '--record' needs a file to record to");
            if (text.empty())
                return badUsage("the record path is empty");
            settings.recordPath = text;
        } else if (name == "--live" || name == "--no-connect" || name == "--quiet"
            || name == "--help" || name == "-h") {
            if (hasInlineValue)
                return badUsage("option " + quoted(name) + " takes no value");
            if (name == "--help" || name == "-h") {
                command.kind = LiveCommandKind::Help;
                return command;
            }
            if (name == "--no-connect")
                settings.connect = false;
            else if (name == "--quiet")
                command.quiet = true;
        } else {
            return badUsage("unknown option " + quoted(name) + " for --live");
        }
    }

    // As for a file run: a range alone is the classic count over it.
    if (rangeGiven) {
        if (bandsGiven && bandsGiven->kind != engine::LayoutKind::Custom)
            return badUsage("--band-range goes with --bands N: the "
                + engine::layoutChoiceText(*bandsGiven) + " layout has its own range");
        settings.bands = bandsGiven.value_or(engine::LayoutChoice {});
        settings.bands.kind = engine::LayoutKind::Custom;
        settings.bands.range = rangeGiven;
    } else if (bandsGiven) {
        settings.bands = *bandsGiven;
    }

    if (soundGiven) {
        if (!operands.empty())
            return badUsage("unexpected operand " + quoted(operands.front())
                + ": --carrier-sound takes the carrier's place");
    } else {
        if (operands.empty())
            return badUsage("missing operand: --live needs CARRIER, 'jack' or --carrier-sound");
        if (operands.size() > 1)
            return badUsage("unexpected operand " + quoted(operands[1])
                + ": --live takes the voice from the audio input");
        if (operands.front().empty())
            return badUsage("the carrier path is empty");
        if (operands.front() == "jack")
            settings.carrierFromPort = true;
        else
            settings.carrierPath = operands.front();
    }
    command.kind = LiveCommandKind::Run;
    return command;
}

std::string liveUsageText()
{
    return R"(Live:   lumivox-cli --live [--no-connect] [--record OUT] [OPTIONS]
                   (--carrier-sound SOUND | CARRIER | jack)

Vocodes the audio input live and plays the result until Ctrl-C, SIGTERM or SIGHUP, which end
it with exit status 0. With a JACK server (or PipeWire's JACK) running it is a JACK client
'lumivox' with an input port 'voice', an output port 'out' and, with the carrier 'jack', an
input port 'carrier'; it runs at the server's rate and period. Without JACK it uses the
default input and output devices through PortAudio. A CARRIER file is played in a loop,
crossfaded at each seam.
  --live          vocode live
  --no-connect    leave the JACK ports unconnected (connect them yourself)
  --record OUT    also write what is played to OUT, a 32-bit float wave file
The sliders, --bands and --band-range act as in a file run; the bands are designed at the
live rate.
A status line once a second shows the input level, the output peak and the missed cycles.
)";
}

std::string decibelText(float peak)
{
    if (!(peak > 0.0F))
        return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(static_cast<double>(peak)));
    return text;
}

std::string liveStatusLine(const job::LiveStatus& status)
{
    std::string line = std::string(programName) + ": live: input "
        + decibelText(status.meters.inputPeak) + ", output peak "
        + decibelText(status.meters.outputPeak) + ", " + std::to_string(status.missedCycles)
        + " missed cycles";
    if (status.recordFramesLost > 0)
        line += ", " + std::to_string(status.recordFramesLost) + " frames not recorded";
    return line;
}

std::string liveStartText(const job::LiveStart& start)
{
    const std::string name(programName);
    const double periodSeconds
        = static_cast<double>(start.periodFrames) / static_cast<double>(start.sampleRate);
    return name + ": live on " + start.audio + " (" + milliseconds(periodSeconds) + ")\n" + name
        + ": the bands delay a voice by " + milliseconds(start.lowDelay.seconds) + " at 300 Hz and "
        + milliseconds(start.highDelay.seconds) + " at 1 kHz (in the bands centred on "
        + std::to_string(std::lround(start.lowDelay.centreHertz)) + " Hz and "
        + std::to_string(std::lround(start.highDelay.centreHertz)) + " Hz)\n";
}

int runLiveCommandLine(std::span<const std::string_view> arguments, Console console)
{
    const ParsedLiveCommand command = parseLiveCommandLine(arguments);
    switch (command.kind) {
    case LiveCommandKind::Help:
        console.output << usageText() << '\n' << liveUsageText() << std::flush;
        return console.output ? exitStatus::finished : exitStatus::failed;
    case LiveCommandKind::BadUsage:
        console.errors << badUsageLine(command.problem) << '\n' << std::flush;
        return exitStatus::badUsage;
    case LiveCommandKind::Run:
        break;
    }

    std::atomic<bool> stop { false };
    LiveConsole events(console, command.quiet);
    job::LiveEnding ending;
    {
        const InterruptToStop interruptToStop(stop);
        ending = job::runLive(command.settings, stop, events);
    }
    events.endStatus();
    if (!ending.message.empty())
        console.errors << programName << ": " << ending.message << '\n';
    const std::string& recordPath = command.settings.recordPath;
    if (!recordPath.empty() && ending.outcome != job::LiveOutcome::Failed)
        console.errors << programName << ": recorded " << ending.framesRecorded << " frames to "
                       << recordPath << '\n';
    console.errors << std::flush;
    return ending.outcome == job::LiveOutcome::Stopped ? exitStatus::finished : exitStatus::failed;
}

} // namespace lumivox::cli
