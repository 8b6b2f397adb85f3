#pragma once

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
    std::string carrierPath;
    std::string modulatorPath;
    std::string outputPath; // empty for --preview
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

[[nodiscard]] std::string usageText();
[[nodiscard]] std::string badUsageLine(std::string_view problem);

inline constexpr std::string_view programName = "lumivox-cli";
inline constexpr std::string_view versionText = "Lumivox 1.0";

} // namespace lumivox::cli
