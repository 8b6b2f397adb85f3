#pragma once

#include <string>
#include <vector>

namespace lumivox::plugin::test {

struct ProgramRun {
    int exitStatus = -1; // -1 when the program could not start or did not exit normally
    std::string output; // standard output and standard error together
};

// Runs a program found on PATH to its end, with the given "NAME=value" entries added to the
// environment, and keeps what it printed.
[[nodiscard]] ProgramRun runProgram(
    const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {});

} // namespace lumivox::plugin::test
