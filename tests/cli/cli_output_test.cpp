#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace lumivox::cli::test;

namespace {

constexpr std::string_view notOpened = "The output wave file could not be opened.";

class CliOutput : public ScratchFolderTest {
protected:
    void writeInputs(std::size_t frameCount) { writeMono8Inputs(folder, frameCount); }
    CliRun vocodeTo(const std::string& output)
    {
        return runCli({ pathOf("carrier.wav"), pathOf("modulator.wav"), output }, folder);
    }
    static void expectRefused(const CliRun& run, const std::string& cause)
    {
        EXPECT_EQ(run.end.exitStatus, 1);
        EXPECT_NE(run.standardError.find(std::string(notOpened) + "\nlumivox-cli: " + cause + "\n"),
            std::string::npos)
            << run.standardError;
    }
};

struct OddOutput {
    const char* name;
    // Makes the output at the path; returns an empty text, or why the case cannot be made here.
    std::function<std::string(const std::string& path)> make;
    const char* cause = "not a regular file";
};

class CliOddOutput : public CliOutput, public ::testing::WithParamInterface<OddOutput> { };

} // namespace

// An output that is not a regular file is refused at once, without waiting for a reader of a FIFO
// and without writing over a device.
TEST_P(CliOddOutput, IsRefusedWithoutBlockingOrWriting)
{
    writeInputs(3000);
    const std::string output = pathOf("output");
    const std::string problem = GetParam().make(output);
    if (!problem.empty())
        GTEST_SKIP() << problem;
    struct stat before { };
    ASSERT_EQ(::stat(output.c_str(), &before), 0);
    expectRefused(vocodeTo(output), GetParam().cause);
    struct stat after { };
    ASSERT_EQ(::stat(output.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CliOddOutput,
    ::testing::Values(OddOutput { "Fifo",
                          [](const std::string& path) {
                              return ::mkfifo(path.c_str(), 0600) == 0 ? "" : "no FIFO";
                          } },
        OddOutput { "FifoWithAReader",
            [](const std::string& path) -> std::string {
                if (::mkfifo(path.c_str(), 0600) != 0)
                    return "no FIFO";
                // Left open for the rest of the process: the FIFO has a reader while the run tries
                // it.
                return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) >= 0 ? ""
                                                                                    : "no reader";
            } },
        OddOutput { "Socket",
            [](const std::string& path) -> std::string {
                const int socketFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_un address {};
                address.sun_family = AF_UNIX;
                if (path.size() >= sizeof address.sun_path)
                    return "socket path too long";
                path.copy(address.sun_path, path.size());
                return ::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
                    ? ""
                    : "no socket";
            } },
        OddOutput { "Folder",
            [](const std::string& path) {
                return ::mkdir(path.c_str(), 0700) == 0 ? "" : "no folder";
            },
            "Is a directory" },
        OddOutput { "BlockDevice",
            [](const std::string& path) -> std::string {
                if (::geteuid() != 0)
                    return "a block device node needs root";
                // The loop device's node number: a block device that no test would harm.
                return ::mknod(path.c_str(), S_IFBLK | 0600, makedev(7, 7)) == 0 ? ""
                                                                                 : "no device node";
            } }),
    [](const ::testing::TestParamInfo<OddOutput>& output) {
        return std::string(output.param.name);
    });

TEST_F(CliOutput, DevNullStaysAllowed)
{
    writeInputs(3000);
    const CliRun run = vocodeTo("/dev/null");
    EXPECT_EQ(run.end.exitStatus, 0) << run.standardError;
}

// Two runs naming one output: the second is refused before it changes anything, and the first
// writes its whole result.
TEST_F(CliOutput, ASecondRunOnTheSameOutputIsRefusedAndTheFirstCompletes)
{
    const std::size_t frameCount = 6'000'000;
    writeInputs(frameCount);
    const UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    const pid_t first
        = startCli({ pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf("out.wav") }, {},
            devNull.get(), devNull.get());
    // Wait until the first run has its header on disk, so that it holds the output.
    ASSERT_TRUE(awaitFileLongerThan(pathOf("out.wav"), 45));

    const CliRun second = vocodeTo(pathOf("out.wav"));
    const ChildExit firstEnd = waitForChild(first);
    expectRefused(second, "another run is writing to it");
    EXPECT_EQ(firstEnd.exitStatus, 0);
    std::string problem;
    const auto output = readOutputWave(pathOf("out.wav"), problem);
    ASSERT_TRUE(output.has_value()) << problem;
    EXPECT_EQ(output->data.size(), frameCount);
}

// Whoever holds the output locked (here the test program, not a Lumivox run), a run is refused,
// the cause says who, and the file's bytes stay as they were.
TEST_F(CliOutput, AnOutputLockedElsewhereIsLeftUntouched)
{
    writeInputs(3000);
    const Bytes contents { 'k', 'e', 'e', 'p' };
    writeFile(pathOf("out.wav"), contents);
    const UniqueFd holder(::open(pathOf("out.wav").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    expectRefused(vocodeTo(pathOf("out.wav")), "another program has it locked");
    EXPECT_EQ(readFile(pathOf("out.wav")), contents);
}
