#pragma once

#include "engine/block_path.h"

#include <ostream>
#include <span>
#include <string_view>

namespace lumivox::cli {

struct Console {
    std::ostream& output; // usage and version
    std::ostream& errors; // progress bar, the job's messages, usage hints
    bool errorsOnTerminal = false; // the progress bar is shown only on a terminal
};

// The whole of lumivox-cli after the program name: reads the arguments, runs one job on this
// thread and returns the exit status.
// vectors: how the engine runs, as the program chose at its start.
[[nodiscard]] int runCommandLine(std::span<const std::string_view> arguments, Console console,
    engine::VectorChoice vectors = {});

} // namespace lumivox::cli
