#pragma once

#include "job/job_settings.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lumivox::cli {

// What the command line asks for once it has been read.
struct CliOptions {
    bool preview = false;
    bool quiet = false;
    int clearance = 0; // slider positions 0..100, as in the window
    int vagueness = 0;
    int gain = 50; // 50 is a gain of 1.0
    int clarity = 0;
    std::string carrierPath; // empty with --carrier-sound
    std::string modulatorPath;
    std::string outputPath; // empty for --preview
    job::CarrierChoice carrier; // --carrier-sound; the kind is File without it
    bool repeatCarrier = false;
    std::optional<double> normalizeDecibels; // --normalize: the peak asked for, in dBFS
    engine::LayoutChoice bands; // --bands and --band-range
};

enum class CommandKind { Run, Help, Version, BadUsage };

struct ParsedCommand {
    CommandKind kind = CommandKind::BadUsage;
    CliOptions options; // meaningful for Run
    std::string problem; // for BadUsage: what was wrong, as one line
};

// Reads the arguments after the program name. Options may come before, between or after the
// operands; "--" ends the options so that a path may begin with a dash.
[[nodiscard]] ParsedCommand parseCommandLine(std::span<const std::string_view> arguments);

// A slider position: a whole decimal number from 0 to 100 and nothing else.
[[nodiscard]] std::optional<int> parseSliderPosition(std::string_view text);

// Reads the value of a slider option (--clearance, --vagueness, --gain or --clarity; value empty
// when none was given) into position. Empty when it was read, otherwise the problem to report
// as bad usage, in the words of every run.
[[nodiscard]] std::string readSliderOption(
    std::string_view option, std::optional<std::string_view> value, int& position);

// The value of --normalize=DB: decibels from -60 to 0, a decimal number.
[[nodiscard]] std::optional<double> parseNormalizePeak(std::string_view text);

// The value of --carrier-sound: chord[:ROOT[:TYPE]], noise or follow[:SEMITONES]. Empty, with
// the problem as one line, when it is not one of those.
[[nodiscard]] std::optional<job::CarrierChoice> parseCarrierSound(
    std::string_view text, std::string& problem);

// The value of --bands: a count from 4 to 64, classic or speech.
[[nodiscard]] std::optional<engine::LayoutChoice> parseBandsValue(std::string_view text);

// The value of --band-range: LOW:HIGH in Hz, LOW from 10 Hz and below HIGH, HIGH within what the
// highest sample rate holds. Empty, with the problem as one line, when it is not.
[[nodiscard]] std::optional<engine::BandRange> parseBandRange(
    std::string_view text, std::string& problem);

// The highest sample rate a band range is checked against before the recordings are read.
inline constexpr double highestBandDesignRate = 768000.0;

[[nodiscard]] std::string usageText();
[[nodiscard]] std::string badUsageLine(std::string_view problem);

inline constexpr std::string_view programName = "lumivox-cli";
inline constexpr std::string_view versionText = "Lumivox " LUMIVOX_VERSION;

} // namespace lumivox::cli
