#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lumivox::cli::test {

// A file descriptor that closes itself.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int descriptor)
        : fd(descriptor)
    {
    }
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    [[nodiscard]] int get() const { return fd; }
    void reset();

private:
    int fd = -1;
};

struct ChildExit {
    int exitStatus = -1; // -1 when the child did not exit normally
    int signalNumber = 0; // the signal that ended it, if one did
};

// Starts a program (found on PATH unless the first argument is a path) with stdin on /dev/null and
// stdout and stderr on the given descriptors; -1 when it cannot start. Each environment entry
// "NAME=value" replaces or adds that variable.
[[nodiscard]] pid_t startProgram(const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment, int outputFd, int errorFd);

// Starts lumivox-cli with stdin on /dev/null and stdout and stderr on the given descriptors.
// Each environment entry "NAME=value" replaces or adds that variable.
[[nodiscard]] pid_t startCli(const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment, int outputFd, int errorFd);

[[nodiscard]] ChildExit waitForChild(pid_t child);

// A file's whole text; empty when it cannot be read.
[[nodiscard]] std::string fileText(const std::filesystem::path& path);

// Polls until the file holds more than the given number of bytes; false after ten seconds without
// (a guard against a hang). Runs take less time on every new machine, so tests that must act in the
// middle of one wait for its output to grow rather than for a fixed delay.
[[nodiscard]] bool awaitFileLongerThan(const std::filesystem::path& file, std::uintmax_t bytes);

struct CliRun {
    ChildExit end;
    std::string standardOutput;
    std::string standardError;
};

// Runs lumivox-cli to its end with stdout and stderr captured in files under the folder.
[[nodiscard]] CliRun runCli(const std::vector<std::string>& arguments,
    const std::filesystem::path& folder, const std::vector<std::string>& environment = {});

struct ProgramRun {
    ChildExit end; // exitStatus -1 also when the program could not start
    std::string output; // standard output and standard error together
};

// Runs a program (as startProgram) to its end and keeps what it printed.
[[nodiscard]] ProgramRun runProgram(
    const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {});

// A pseudo-terminal in raw mode: the child writes to the terminal side, the test reads the other.
struct Terminal {
    UniqueFd reader;
    UniqueFd terminalSide;
};
[[nodiscard]] Terminal openTerminal();

// Everything read until the terminal side is closed by every process that held it.
[[nodiscard]] std::string readUntilClosed(int readerFd);

} // namespace lumivox::cli::test
