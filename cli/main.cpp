#include "run_command_line.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string_view>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    // Past a file-size limit a write must fail with an error the job reports, not end the program
    // with a half-finished output file.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader that went away (a closed pipe on stderr) shows as a failed write, not a killed run.
    std::signal(SIGPIPE, SIG_IGN);
    // Arguments are taken as they come: a path is never cut or re-encoded.
    const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    // The engine's vector unit and path, chosen once here: LUMIVOX_VECTOR_UNIT pins a unit
    // (portable, sse2, avx2, avx512) and LUMIVOX_BLOCK_PATH=off runs frame by frame.
    const auto vectors = lumivox::engine::vectorChoiceFrom(
        std::getenv("LUMIVOX_VECTOR_UNIT"), std::getenv("LUMIVOX_BLOCK_PATH"));
    return lumivox::cli::runCommandLine(
        arguments, { std::cout, std::cerr, isatty(STDERR_FILENO) == 1 }, vectors);
}
