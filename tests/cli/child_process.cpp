#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace lumivox::cli::test {

UniqueFd::~UniqueFd() { reset(); }

UniqueFd::UniqueFd(UniqueFd&& other) noexcept
    : fd(other.fd)
{
    other.fd = -1;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        reset();
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

void UniqueFd::reset()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

namespace {

    std::vector<std::string> mergedEnvironment(const std::vector<std::string>& changes)
    {
        std::vector<std::string> merged;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string current = *entry;
            const std::string name = current.substr(0, current.find('=') + 1);
            bool replaced = false;
            for (const std::string& change : changes)
                replaced = replaced || change.starts_with(name);
            if (!replaced)
                merged.push_back(current);
        }
        merged.insert(merged.end(), changes.begin(), changes.end());
        return merged;
    }

    std::vector<char*> pointersTo(std::vector<std::string>& strings)
    {
        std::vector<char*> pointers;
        for (std::string& text : strings)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
        return pointers;
    }

} // namespace

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

pid_t startProgram(const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment, int outputFd, int errorFd)
{
    std::vector<std::string> argumentList = arguments;
    std::vector<std::string> environmentList = mergedEnvironment(environment);
    std::vector<char*> argv = pointersTo(argumentList);
    std::vector<char*> envp = pointersTo(environmentList);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorFd, STDERR_FILENO);
    pid_t child = -1;
    const int result = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? child : -1;
}

pid_t startCli(const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment, int outputFd, int errorFd)
{
    std::vector<std::string> argumentList { LUMIVOX_CLI_PATH };
    argumentList.insert(argumentList.end(), arguments.begin(), arguments.end());
    const pid_t child = startProgram(argumentList, environment, outputFd, errorFd);
    if (child < 0)
        throw std::runtime_error("cannot start " + argumentList[0]);
    return child;
}

bool awaitFileLongerThan(const std::filesystem::path& file, std::uintmax_t bytes)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        std::error_code missing;
        const std::uintmax_t size = std::filesystem::file_size(file, missing);
        if (!missing && size > bytes)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

ChildExit waitForChild(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return {};
    }
    ChildExit end;
    if (WIFEXITED(status))
        end.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        end.signalNumber = WTERMSIG(status);
    return end;
}

CliRun runCli(const std::vector<std::string>& arguments, const std::filesystem::path& folder,
    const std::vector<std::string>& environment)
{
    const auto outputPath = folder / "cli-stdout.txt";
    const auto errorPath = folder / "cli-stderr.txt";
    CliRun run;
    {
        const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
        const UniqueFd output(::open(outputPath.c_str(), flags, 0644));
        const UniqueFd errors(::open(errorPath.c_str(), flags, 0644));
        run.end = waitForChild(startCli(arguments, environment, output.get(), errors.get()));
    }
    run.standardOutput = fileText(outputPath);
    run.standardError = fileText(errorPath);
    return run;
}

Terminal openTerminal()
{
    Terminal terminal;
    terminal.reader = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (terminal.reader.get() < 0 || grantpt(terminal.reader.get()) != 0
        || unlockpt(terminal.reader.get()) != 0)
        throw std::runtime_error("no pseudo-terminal");
    terminal.terminalSide
        = UniqueFd(::open(ptsname(terminal.reader.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (terminal.terminalSide.get() < 0)
        throw std::runtime_error("cannot open the terminal side");
    // Raw mode, so that the bytes read are exactly those written (no "\n" to "\r\n").
    termios settings {};
    tcgetattr(terminal.terminalSide.get(), &settings);
    cfmakeraw(&settings);
    tcsetattr(terminal.terminalSide.get(), TCSANOW, &settings);
    return terminal;
}

ProgramRun runProgram(
    const std::vector<std::string>& arguments, const std::vector<std::string>& environment)
{
    ProgramRun run;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return run;
    const UniqueFd reader(ends[0]);
    UniqueFd writer(ends[1]);
    const pid_t child = startProgram(arguments, environment, writer.get(), writer.get());
    writer.reset(); // the end of the output is the child's closing its copies
    if (child < 0)
        return run;
    run.output = readUntilClosed(reader.get());
    run.end = waitForChild(child);
    return run;
}

std::string readUntilClosed(int readerFd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(readerFd, buffer, sizeof buffer);
        if (count > 0)
            text.append(buffer, static_cast<std::size_t>(count));
        else if (count < 0 && errno == EINTR)
            continue;
        else
            return text; // EIO once no process holds the terminal side
    }
}

} // namespace lumivox::cli::test
