#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iomanip>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace lumivox::cli::test;

namespace {

// Long enough that a run is still reading and writing when the test stops it.
constexpr std::size_t longFrameCount = 6'000'000;

// True while the process holds a flock on the file, as /proc/locks lists it.
bool holdsLock(pid_t process, const std::string& file)
{
    struct stat status { };
    if (::stat(file.c_str(), &status) != 0)
        return false;
    std::ostringstream name;
    name << std::hex << std::setfill('0') << std::setw(2) << major(status.st_dev) << ':'
         << std::setw(2) << minor(status.st_dev) << ':' << std::dec << status.st_ino;
    std::ifstream table("/proc/locks");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, device;
        long holder = 0;
        if (fields >> number >> kind >> mode >> access >> holder >> device && kind == "FLOCK"
            && holder == process && device == name.str())
            return true;
    }
    return false;
}

class CliHeldFiles : public ScratchFolderTest {
protected:
    // Starts a run that writes out.wav from the long inputs and stops it (SIGSTOP) once audio
    // has reached the file; -1 when it never got there.
    pid_t startAndFreeze()
    {
        writeMono8Inputs(folder, longFrameCount);
        firstErrors = UniqueFd(::open(
            pathOf("first-stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        const pid_t run = startCli(
            { "--quiet", pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf("out.wav") }, {},
            firstErrors.get(), firstErrors.get());
        const bool writing = awaitFileLongerThan(pathOf("out.wav"), 46 + 4096);
        ::kill(run, SIGSTOP);
        return writing ? run : -1;
    }
    std::string firstRunErrors() const
    {
        const Bytes bytes = readFile(pathOf("first-stderr.txt"));
        return { bytes.begin(), bytes.end() };
    }

    UniqueFd firstErrors; // the frozen run's stdout and stderr
};

} // namespace

// A second run that names the first run's modulator as its output is refused before it changes
// a byte of it, and the first run writes its whole result.
TEST_F(CliHeldFiles, AnInputBeingReadIsNotOverwrittenByAnotherRun)
{
    const pid_t first = startAndFreeze();
    ASSERT_GT(first, 0);
    EXPECT_TRUE(holdsLock(first, pathOf("modulator.wav")));
    const Bytes input = readFile(pathOf("modulator.wav"));
    writeWaveFile(folder / "other-carrier.wav", { 1, 1, 44100, 8 }, carrierSamples(3000, 1, 8));
    writeWaveFile(folder / "other-modulator.wav", { 1, 1, 44100, 8 }, modulatorSamples(3000, 1, 8));
    const CliRun second = runCli(
        { pathOf("other-carrier.wav"), pathOf("other-modulator.wav"), pathOf("modulator.wav") },
        folder);
    ::kill(first, SIGCONT);
    const ChildExit firstEnd = waitForChild(first);

    EXPECT_EQ(second.end.exitStatus, 1);
    EXPECT_NE(second.standardError.find("The output wave file could not be opened.\n"
                                        "lumivox-cli: it is being read by another run\n"),
        std::string::npos)
        << second.standardError;
    EXPECT_EQ(readFile(pathOf("modulator.wav")), input);
    EXPECT_EQ(firstEnd.exitStatus, 0);
    const auto output = readOutputWave(pathOf("out.wav"));
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output->data.size(), longFrameCount);
}

// Another program empties the output while the run writes it, then the run is stopped: the run
// fails with the cause, and the file is still a wave file from its first byte.
TEST_F(CliHeldFiles, AnOutputCutShortUnderTheRunFailsItAndKeepsAValidHeader)
{
    const pid_t run = startAndFreeze();
    ASSERT_GT(run, 0);
    ASSERT_EQ(::truncate(pathOf("out.wav").c_str(), 0), 0);
    ::kill(run, SIGTERM);
    ::kill(run, SIGCONT);
    const ChildExit end = waitForChild(run);
    const std::string errors = firstRunErrors();

    EXPECT_EQ(end.exitStatus, 1);
    EXPECT_NE(errors.find("The output wave file could not be written.\n"
                          "lumivox-cli: the file was cut short by another program\n"),
        std::string::npos)
        << errors;
    std::string problem;
    const auto output = readOutputWave(pathOf("out.wav"), problem);
    EXPECT_TRUE(output.has_value()) << problem;
}

struct ShortInputCase {
    const char* name;
    std::uint32_t carrierFramesPresent;
    std::uint32_t modulatorFramesPresent;
    const char* warning; // empty: none
};

class CliShortInput : public ScratchFolderTest,
                      public ::testing::WithParamInterface<ShortInputCase> { };

// Each input declares three seconds at 44100 Hz; what it holds may be less.
TEST_P(CliShortInput, WarnsOnStandardErrorAndKeepsWhatThereWas)
{
    const ShortInputCase& given = GetParam();
    const std::uint32_t declaredFrames = 3 * 44100;
    const WaveShape mono8 { 1, 1, 44100, 8 };
    const auto input = [&](const char* name, const Bytes& samples) {
        writeFile(folder / name,
            riff("WAVE",
                { chunk("fmt ", formatPayload(mono8)), chunk("data", samples, declaredFrames) }));
    };
    input("carrier.wav", carrierSamples(given.carrierFramesPresent, 1, 8));
    input("modulator.wav", modulatorSamples(given.modulatorFramesPresent, 1, 8));
    const CliRun run = runCli(
        { "--quiet", pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf("out.wav") }, folder);

    EXPECT_EQ(run.end.exitStatus, 0) << run.standardError;
    const std::string expected
        = *given.warning == '\0' ? "" : std::string("lumivox-cli: ") + given.warning + "\n";
    EXPECT_EQ(run.standardError, expected);
    const auto output = readOutputWave(pathOf("out.wav"));
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(
        output->data.size(), std::min(given.carrierFramesPresent, given.modulatorFramesPresent));
}

INSTANTIATE_TEST_SUITE_P(Inputs, CliShortInput,
    ::testing::Values(ShortInputCase { "Whole", 3 * 44100, 3 * 44100, "" },
        ShortInputCase { "ModulatorCut", 3 * 44100, 44100 + 4410,
            "the modulator's data ended at 1.1 s of 3.0 s declared" },
        ShortInputCase { "CarrierCut", 22050, 3 * 44100,
            "the carrier's data ended at 0.5 s of 3.0 s declared" }),
    [](const ::testing::TestParamInfo<ShortInputCase>& shortInput) {
        return std::string(shortInput.param.name);
    });

// An input that another program holds locked for writing is read by neither reader.
TEST_F(CliHeldFiles, AnInputLockedForWritingIsNotRead)
{
    writeMono8Inputs(folder, 3000);
    const UniqueFd holder(::open(pathOf("modulator.wav").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    const CliRun run = runCli(
        { "--quiet", pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf("out.wav") }, folder);
    EXPECT_EQ(run.end.exitStatus, 1);
    EXPECT_NE(run.standardError.find("The modulator wave file could not be opened.\n"
                                     "lumivox-cli: another program has it locked\n"),
        std::string::npos)
        << run.standardError;
}
