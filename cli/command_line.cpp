#include "command_line.h"

#include "engine/chord_sound.h"
#include "shown_name.h"

#include <charconv>
#include <cmath>
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

    // An argument as the line shows it: in quotes, with what a terminal would act on escaped.
    std::string quoted(std::string_view text) { return quotedName(text); }

    constexpr std::string_view carrierSoundForms
        = "chord[:ROOT[:TYPE]], noise or follow[:SEMITONES]";

    // Splits text at its first colon: what comes before, and after it (empty without a colon).
    std::pair<std::string_view, std::string_view> splitAtColon(std::string_view text)
    {
        const auto colon = text.find(':');
        if (colon == std::string_view::npos)
            return { text, {} };
        return { text.substr(0, colon), text.substr(colon + 1) };
    }

    // A whole number of semitones from -12 to 12, with or without a sign.
    std::optional<int> parseInterval(std::string_view text)
    {
        const bool plus = !text.empty() && text.front() == '+';
        if (plus)
            text.remove_prefix(1);
        if (text.empty() || (plus && text.front() == '-'))
            return std::nullopt;
        int value = 0;
        const auto* end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, value);
        if (error != std::errc() || stop != end || value < job::lowestFollowInterval
            || value > job::highestFollowInterval)
            return std::nullopt;
        return value;
    }

} // namespace

std::optional<job::CarrierChoice> parseCarrierSound(std::string_view text, std::string& problem)
{
    job::CarrierChoice choice;
    const auto [name, rest] = splitAtColon(text);
    const bool hasParameters = text.find(':') != std::string_view::npos;
    if (name == "noise" && !hasParameters) {
        choice.kind = job::CarrierKind::Noise;
        return choice;
    }
    if (name == "chord") {
        choice.kind = job::CarrierKind::Chord;
        const auto [root, type] = splitAtColon(rest);
        if (hasParameters) {
            const auto note = engine::parseNoteName(root);
            if (!note || *note < engine::lowestChordRoot || *note > engine::highestChordRoot) {
                problem = quoted(root)
                    + " is not a chord root: give a note from C2 to C4, such as C3, F#2 or Bb3";
                return std::nullopt;
            }
            choice.chordRoot = *note;
        }
        if (rest.find(':') != std::string_view::npos) {
            const auto chordType = engine::parseChordType(type);
            if (!chordType) {
                problem = quoted(type) + " is not a chord type: give major, minor, fifth or octave";
                return std::nullopt;
            }
            choice.chordType = *chordType;
        }
        return choice;
    }
    if (name == "follow") {
        choice.kind = job::CarrierKind::FollowVoice;
        if (hasParameters) {
            const auto interval = parseInterval(rest);
            if (!interval) {
                problem = quoted(rest)
                    + " is not an interval for follow: give a whole number of semitones from -12 "
                      "to 12";
                return std::nullopt;
            }
            choice.followSemitones = *interval;
        }
        return choice;
    }
    problem = quoted(text) + " is not a carrier sound: give " + std::string(carrierSoundForms);
    return std::nullopt;
}

std::optional<engine::LayoutChoice> parseBandsValue(std::string_view text)
{
    // A range comes with --band-range, not here.
    if (text.find(':') != std::string_view::npos)
        return std::nullopt;
    return engine::parseLayoutChoiceText(text);
}

std::optional<engine::BandRange> parseBandRange(std::string_view text, std::string& problem)
{
    const auto [lowText, highText] = splitAtColon(text);
    const auto number = [](std::string_view part) -> std::optional<double> {
        if (part.empty() || part.front() == '+' || part.front() == '-')
            return std::nullopt;
        double value = 0.0;
        const auto* end = part.data() + part.size();
        const auto [stop, error] = std::from_chars(part.data(), end, value);
        if (error != std::errc() || stop != end || !std::isfinite(value))
            return std::nullopt;
        return value;
    };
    const auto low = number(lowText);
    const auto high = number(highText);
    if (!low || !high || !(*low < *high)) {
        problem = quoted(text)
            + " is not a band range: give LOW:HIGH in Hz with LOW below HIGH, such as 100:8000";
        return std::nullopt;
    }
    if (*low < engine::BandLayout::lowestHz) {
        problem = quoted(text) + " starts below 10 Hz, the lowest a band may reach";
        return std::nullopt;
    }
    const double top = engine::highestBandHz(highestBandDesignRate);
    if (*high > top) {
        problem = quoted(text) + " reaches above " + std::to_string(std::lround(top))
            + " Hz: bands reach 0.46 x the sample rate at most, and no rate above "
            + std::to_string(std::lround(highestBandDesignRate)) + " Hz is taken";
        return std::nullopt;
    }
    return engine::BandRange { *low, *high };
}

std::optional<double> parseNormalizePeak(std::string_view text)
{
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    double value = 0.0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !(value >= job::lowestNormalizeDecibels)
        || !(value <= job::highestNormalizeDecibels))
        return std::nullopt;
    return value == 0.0 ? 0.0 : value; // -0 reads as 0
}

std::string readSliderOption(
    std::string_view option, std::optional<std::string_view> value, int& position)
{
    if (!value)
        return "option " + quotedName(option) + " needs a value from 0 to 100";
    const auto read = parseSliderPosition(*value);
    if (!read)
        return quotedName(*value) + " is not a valid value for " + shownName(option)
            + ": give a whole number from 0 to 100";
    position = *read;
    return {};
}

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
    std::optional<engine::LayoutChoice> bandsGiven;

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
            std::optional<std::string_view> value;
            if (hasInlineValue)
                value = argument.substr(equals + 1);
            else if (index + 1 < arguments.size())
                value = arguments[++index];
            if (std::string problem = readSliderOption(name, value, sliderField(options, slider));
                !problem.empty())
                return badUsage(std::move(problem));
            continue;
        }

        if (name == "--carrier-sound") {
            std::string_view value;
            if (hasInlineValue) {
                value = argument.substr(equals + 1);
            } else if (index + 1 < arguments.size()) {
                value = arguments[++index];
            } else {
                return badUsage(
                    "option '--carrier-sound' needs a value: " + std::string(carrierSoundForms));
            }
            std::string problem;
            const auto choice = parseCarrierSound(value, problem);
            if (!choice)
                return badUsage(problem);
            options.carrier = *choice;
            continue;
        }

        if (name == "--bands" || name == "--band-range") {
            std::string_view value;
            if (hasInlineValue) {
                value = argument.substr(equals + 1);
            } else if (index + 1 < arguments.size()) {
                value = arguments[++index];
            } else {
                return badUsage("option " + quoted(name)
                    + (name == "--bands" ? " needs a value: a count from 4 to 64, classic or speech"
                                         : " needs a value: LOW:HIGH in Hz, such as 100:8000"));
            }
            if (name == "--bands") {
                const auto layout = parseBandsValue(value);
                if (!layout)
                    return badUsage(quoted(value)
                        + " is not a band layout: give a count from 4 to 64, classic or speech");
                bandsGiven = *layout;
                continue;
            }
            std::string problem;
            const auto range = parseBandRange(value, problem);
            if (!range)
                return badUsage(problem);
            options.bands.range = *range;
            continue;
        }

        if (name == "--normalize") {
            options.normalizeDecibels = job::defaultNormalizeDecibels;
            if (hasInlineValue) {
                const std::string_view value = argument.substr(equals + 1);
                const auto decibels = parseNormalizePeak(value);
                if (!decibels)
                    return badUsage(quoted(value)
                        + " is not a peak for --normalize: give decibels from -60 to 0, such as "
                          "-1 or -0.5");
                options.normalizeDecibels = *decibels;
            }
            continue;
        }

        if (name == "--help" || name == "-h" || name == "--version" || name == "--quiet"
            || name == "--preview" || name == "--repeat-carrier") {
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
            else if (name == "--repeat-carrier")
                options.repeatCarrier = true;
            else
                options.preview = true;
            continue;
        }
        return badUsage("unknown option " + quoted(name));
    }

    // A range alone is the classic count over it; classic and speech have ranges of their own.
    if (const auto range = options.bands.range) {
        if (bandsGiven && bandsGiven->kind != engine::LayoutKind::Custom)
            return badUsage("--band-range goes with --bands N: the "
                + engine::layoutChoiceText(*bandsGiven) + " layout has its own range");
        options.bands = bandsGiven.value_or(engine::LayoutChoice {});
        options.bands.kind = engine::LayoutKind::Custom;
        options.bands.range = range;
    } else if (bandsGiven) {
        options.bands = *bandsGiven;
    }

    // A built-in sound takes the carrier's place, so CARRIER is not given.
    const bool builtIn = options.carrier.kind != job::CarrierKind::File;
    if (builtIn && options.repeatCarrier)
        return badUsage("--repeat-carrier repeats a carrier file; a --carrier-sound already lasts "
                        "as long as the modulator");
    const std::size_t operandsWanted = (options.preview ? 2 : 3) - (builtIn ? 1 : 0);
    if (operands.size() < operandsWanted) {
        if (builtIn)
            return badUsage(options.preview ? "missing operand: --preview needs MODULATOR"
                                            : "missing operand: give MODULATOR and OUTPUT");
        return badUsage(options.preview ? "missing operand: --preview needs CARRIER and MODULATOR"
                                        : "missing operand: give CARRIER, MODULATOR and OUTPUT");
    }
    if (operands.size() > operandsWanted)
        return badUsage("unexpected operand " + quoted(operands[operandsWanted])
            + (options.preview ? ": --preview writes no file"
                    : builtIn  ? ": --carrier-sound takes the carrier's place"
                               : ""));

    const std::string_view allRoles[] = { "carrier", "modulator", "output" };
    const std::span<const std::string_view> roles
        = std::span(allRoles).subspan(builtIn ? 1 : 0, operandsWanted);
    for (std::size_t index = 0; index < operandsWanted; ++index) {
        if (operands[index].empty())
            return badUsage("the " + std::string(roles[index]) + " path is empty");
    }
    std::size_t next = 0;
    if (!builtIn)
        options.carrierPath = operands[next++];
    options.modulatorPath = operands[next++];
    if (!options.preview)
        options.outputPath = operands[next];
    command.kind = CommandKind::Run;
    return command;
}

std::string usageText()
{
    return R"(Usage: lumivox-cli [OPTIONS] CARRIER MODULATOR OUTPUT
       lumivox-cli --preview [OPTIONS] CARRIER MODULATOR
       lumivox-cli --carrier-sound SOUND [OPTIONS] MODULATOR OUTPUT
       lumivox-cli --carrier-sound SOUND --preview [OPTIONS] MODULATOR

Vocodes the CARRIER recording with the MODULATOR recording and writes the result to OUTPUT
as a mono file at the carrier's sample rate, or plays it on the default audio output device
(--preview). OUTPUT's ending picks the format: .flac, .ogg (Vorbis), .opus, .mp3 or .aiff,
and WAV for .wav or any other ending. Inputs may be WAV, RF64, W64, AIFF, FLAC, Ogg Vorbis, Opus or MP3 files of
any depth and rate with one to eight channels (averaged to one); a modulator at another rate
is resampled to the carrier's. The output is 8- or 16-bit for such carriers, 24-bit for wider
integer ones, 32-bit float for float ones (24-bit in FLAC) and 16-bit for MP3, Vorbis and
Opus, and lossy outputs are made from 16-bit samples; the result is as long as the shorter
input.
With --carrier-sound a built-in sound takes the place of CARRIER: it is made at the
modulator's rate, 16-bit unless the modulator is wider, and the result is as long as the
modulator.

Options (N is a slider position, a whole number from 0 to 100):
  --clearance N   Instrument Clearance (default 0)
  --vagueness N   Vagueness (default 0)
  --gain N        Output Gain; 50 is 1.0x, 100 is 2.0x (default 50)
  --clarity N     Clarity: clearer consonants and onsets (default 0)
  --preview       play the result instead of writing a file
  --bands LAYOUT  the bands the sound is split into (default classic):
                    classic  32 narrow bands from 18 Hz to 20 kHz, the original sound
                    speech   20 wide bands from 100 Hz to 8 kHz, wider where a voice's
                             harmonics lie: clearer words, a smoother, less ringing sound
                    N        N bands from 4 to 64 over --band-range (default 22.5:20000, its
                             top brought down to 0.46 x the sample rate), evenly on a log
                             scale: fewer bands blur the words, more ring and cost more time
  --band-range LOW:HIGH
                  the lowest band's lower edge and the highest band's upper edge in Hz,
                  from 10 Hz to 0.46 x the output's sample rate (with --bands N, or 32 bands)
  --carrier-sound SOUND
                  a built-in carrier instead of CARRIER, one of:
                    chord[:ROOT[:TYPE]]  band-limited saws; ROOT from C2 to C4 (default C3,
                                         sharps as F#2, flats as Bb2), TYPE major (default),
                                         minor, fifth or octave
                    noise                white noise, the same every run
                    follow[:SEMITONES]   a saw at the voice's pitch moved by -12 to 12
                                         semitones (default 0), noise where it has none
  --normalize[=DB]
                  bring the output's peak to DB dBFS, from -60 to 0 (default -1): the
                  result is kept in a temporary file next to OUTPUT, then stored once at
                  that level; a preview is not normalized
  --repeat-carrier
                  play a CARRIER shorter than the modulator again from its start, with a
                  20 ms crossfade at each seam, so the result is as long as the modulator
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
