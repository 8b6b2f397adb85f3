#include "command_line.h"

#include <charconv>
#include <vector>

namespace lumivox::cli {

namespace {

    enum class SliderOption { None, Clearance, Vagueness, Gain, Clarity };

    SliderOption sliderOptionNamed(std::string_view name)
    {
        if (name == "--clearance")
            return SliderOption::Clearance;
        if (name == "--vagueness")
            return SliderOption::Vagueness;
        if (name == "--gain")
            return SliderOption::Gain;
        if (name == "--clarity")
            return SliderOption::Clarity;
        return SliderOption::None;
    }

    int& sliderField(CliOptions& options, SliderOption option)
    {
        switch (option) {
        case SliderOption::Clearance:
            return options.clearance;
        case SliderOption::Vagueness:
            return options.vagueness;
        case SliderOption::Clarity:
            return options.clarity;
        case SliderOption::Gain:
        case SliderOption::None:
            break;
        }
        return options.gain;
    }

    ParsedCommand badUsage(std::string problem)
    {
        ParsedCommand command;
        command.kind = CommandKind::BadUsage;
        command.problem = std::move(problem);
        return command;
    }

    std::string quoted(std::string_view text)
    {
        std::string result;
        result.reserve(text.size() + 2);
        result += '\'';
        result += text;
        result += '\'';
        return result;
    }

} // namespace

std::optional<int> parseSliderPosition(std::string_view text)
{
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    int value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < 0 || value > 100)
        return std::nullopt;
    return value;
}

ParsedCommand parseCommandLine(std::span<const std::string_view> arguments)
{
    ParsedCommand command;
    CliOptions& options = command.options;
    std::vector<std::string_view> operands;
    bool optionsEnded = false;

    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string_view argument = arguments[index];
        if (optionsEnded || argument.size() < 2 || argument.front() != '-') {
            operands.push_back(argument); // "-" alone is a path like any other
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }

        const auto equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        const bool hasInlineValue = equals != std::string_view::npos;

        if (const SliderOption slider = sliderOptionNamed(name); slider != SliderOption::None) {
            std::string_view value;
            if (hasInlineValue) {
                value = argument.substr(equals + 1);
            } else if (index + 1 < arguments.size()) {
                value = arguments[++index];
            } else {
                return badUsage("option " + quoted(name) + " needs a value from 0 to 100");
            }
            const auto position = parseSliderPosition(value);
            if (!position)
                return badUsage(quoted(value) + " is not a valid value for " + std::string(name)
                    + ": give a whole number from 0 to 100");
            sliderField(options, slider) = *position;
            continue;
        }

        if (name == "--help" || name == "-h" || name == "--version" || name == "--quiet"
            || name == "--preview") {
            if (hasInlineValue)
                return badUsage("option " + quoted(name) + " takes no value");
            if (name == "--help" || name == "-h") {
                command.kind = CommandKind::Help;
                return command;
            }
            if (name == "--version") {
                command.kind = CommandKind::Version;
                return command;
            }
            if (name == "--quiet")
                options.quiet = true;
            else
                options.preview = true;
            continue;
        }
        return badUsage("unknown option " + quoted(name));
    }

    const std::size_t operandsWanted = options.preview ? 2 : 3;
    if (operands.size() < operandsWanted)
        return badUsage(options.preview ? "missing operand: --preview needs CARRIER and MODULATOR"
                                        : "missing operand: give CARRIER, MODULATOR and OUTPUT");
    if (operands.size() > operandsWanted)
        return badUsage("unexpected operand " + quoted(operands[operandsWanted])
            + (options.preview ? ": --preview writes no file" : ""));

    const std::string_view roles[] = { "carrier", "modulator", "output" };
    for (std::size_t index = 0; index < operandsWanted; ++index) {
        if (operands[index].empty())
            return badUsage("the " + std::string(roles[index]) + " path is empty");
    }
    options.carrierPath = operands[0];
    options.modulatorPath = operands[1];
    if (!options.preview)
        options.outputPath = operands[2];
    command.kind = CommandKind::Run;
    return command;
}

std::string usageText()
{
    return R"(Usage: lumivox-cli [OPTIONS] CARRIER MODULATOR OUTPUT
       lumivox-cli --preview [OPTIONS] CARRIER MODULATOR

Vocodes the CARRIER recording with the MODULATOR recording and writes the result to OUTPUT
as a mono wave file at the carrier's sample rate, or plays it on the default audio output
device (--preview). Inputs may be WAV, RF64, W64, AIFF, FLAC, Ogg Vorbis, Opus or MP3 files of
any depth and rate with one to eight channels (averaged to one); a modulator at another rate
is resampled to the carrier's. The output is 8- or 16-bit for such carriers, 24-bit for wider
integer ones, 32-bit float for float ones and 16-bit for MP3, Vorbis and Opus; the result is
as long as the shorter input.

Options (N is a slider position, a whole number from 0 to 100):
  --clearance N   Instrument Clearance (default 0)
  --vagueness N   Vagueness (default 0)
  --gain N        Output Gain; 50 is 1.0x, 100 is 2.0x (default 50)
  --clarity N     Clarity: clearer consonants and onsets (default 0)
  --preview       play the result instead of writing a file
  --quiet         show no progress bar, nor the lines after a run that say what was
                  written and how loud, what clipped and what was cut short
  -h, --help      show this help and exit
  --version       show the version and exit

Ctrl-C (or SIGTERM, SIGHUP) stops a run and the output file keeps what was written so far;
a second one ends the program at once.

Exit status: 0 when the run finished, 1 when the inputs were refused or the run failed
(the reason is printed), 2 on bad usage, 128 + the signal's number when stopped by a signal
(130 for Ctrl-C).
)";
}

std::string badUsageLine(std::string_view problem)
{
    return std::string(programName) + ": " + std::string(problem) + " (try --help)";
}

} // namespace lumivox::cli
