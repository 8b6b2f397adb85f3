#include "run_command_line.h"

#include <csignal>
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
    return lumivox::cli::runCommandLine(
        arguments, { std::cout, std::cerr, isatty(STDERR_FILENO) == 1 });
}
