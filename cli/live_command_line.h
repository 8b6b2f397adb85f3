#pragma once

#include "job/live_run.h"
#include "run_command_line.h"

#include <span>
#include <string>
#include <string_view>

namespace lumivox::cli {

enum class LiveCommandKind { Run, Help, BadUsage };

struct ParsedLiveCommand {
    LiveCommandKind kind = LiveCommandKind::BadUsage;
    job::LiveSettings settings; // meaningful for Run
    bool quiet = false;
    std::string problem; // for BadUsage, as one line
};

// Whether the arguments ask for a live run (--live among the options).
[[nodiscard]] bool asksForLive(std::span<const std::string_view> arguments);

// Reads `--live [--no-connect] [--record OUT] [sliders] (--carrier-sound SOUND | CARRIER | jack)`.
[[nodiscard]] ParsedLiveCommand parseLiveCommandLine(std::span<const std::string_view> arguments);

[[nodiscard]] std::string liveUsageText();

// A level as the status line shows it: "-6.0 dBFS", or "-inf dBFS" for silence.
[[nodiscard]] std::string decibelText(float peak);

// One status line: the voice's level, the output's peak and the missed cycles.
[[nodiscard]] std::string liveStatusLine(const job::LiveStatus& status);

// The lines said when the run has started: what plays, and how long the bands hold a voice back.
[[nodiscard]] std::string liveStartText(const job::LiveStart& start);

// Runs a live session until SIGINT, SIGTERM or SIGHUP (exit 0) or a failure (exit 1).
[[nodiscard]] int runLiveCommandLine(std::span<const std::string_view> arguments, Console console);

} // namespace lumivox::cli
