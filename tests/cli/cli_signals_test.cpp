#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <unistd.h>

using namespace lumivox::cli::test;

namespace {

// A wave file as a reader finds it after the writer was stopped at an unknown moment: the header's
// sizes must describe a prefix of what is in the file. Empty with the problem when they do not.
std::optional<Bytes> samplesOfUnfinishedOutput(const std::string& path, std::string& problem)
{
    const Bytes file = readFile(path);
    if (file.size() < 46 || std::string(file.begin(), file.begin() + 4) != "RIFF"
        || std::string(file.begin() + 8, file.begin() + 16) != "WAVEfmt "
        || std::string(file.begin() + 38, file.begin() + 42) != "data") {
        problem = "not our header";
        return std::nullopt;
    }
    const std::uint32_t dataSize = uint32At(file, 42);
    if (uint32At(file, 4) != 38 + dataSize) {
        problem = "RIFF size " + std::to_string(uint32At(file, 4)) + " does not match data size "
            + std::to_string(dataSize);
        return std::nullopt;
    }
    if (46 + static_cast<std::uint64_t>(dataSize) > file.size()) {
        problem = "data size " + std::to_string(dataSize) + " beyond the file's "
            + std::to_string(file.size()) + " bytes";
        return std::nullopt;
    }
    return Bytes(file.begin() + 46, file.begin() + 46 + dataSize);
}

class CliSignals : public ScratchFolderTest {
protected:
    // Inputs long enough that a run takes seconds.
    void writeLongInputs(std::size_t frameCount) { writeMono8Inputs(folder, frameCount); }
    std::vector<std::string> arguments(const std::string& output) const
    {
        return { "--quiet", pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf(output) };
    }
    pid_t start(const std::string& output) const
    {
        const UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        return startCli(arguments(output), {}, devNull.get(), devNull.get());
    }
    // Starts a run, sends the signal once the output holds more than the given number of bytes
    // and waits for the end.
    ChildExit runAndSignal(const std::string& output, int signalNumber, std::uintmax_t bytes)
    {
        const pid_t child = start(output);
        const bool writing = awaitFileLongerThan(pathOf(output), bytes);
        ::kill(child, signalNumber);
        const ChildExit end = waitForChild(child);
        EXPECT_TRUE(writing) << output << " never grew past " << bytes << " bytes";
        return end;
    }
};

} // namespace

// Killed outright, the program cannot finish its file; the header it keeps up to date still makes
// the file a valid wave file whose samples are the start of a full run's.
TEST_F(CliSignals, AKilledRunLeavesAValidFileHoldingTheStartOfTheOutput)
{
    const std::size_t frameCount = 8'000'000;
    writeLongInputs(frameCount);
    const CliRun complete = runCli(arguments("complete.wav"), folder);
    ASSERT_EQ(complete.end.exitStatus, 0) << complete.standardError;
    const auto whole = readOutputWave(pathOf("complete.wav"));
    ASSERT_TRUE(whole.has_value());

    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<std::uintmax_t> moment(frameCount / 20, frameCount / 3);
    for (int attempt = 0; attempt < 3; ++attempt) {
        // The first run dies before the header's first refresh; the others are held still for
        // longer than the refresh interval and killed once writing has gone on after it.
        const bool pastARefresh = attempt > 0;
        const std::uintmax_t written = moment(random);
        SCOPED_TRACE("killed after " + std::to_string(written) + " bytes"
            + (pastARefresh ? " and a pause" : ""));
        const std::string output = "killed" + std::to_string(attempt) + ".wav";
        const pid_t child = start(output);
        bool writing = awaitFileLongerThan(pathOf(output), written);
        if (pastARefresh) {
            ::kill(child, SIGSTOP);
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
            const std::uintmax_t stoppedAt = std::filesystem::file_size(pathOf(output));
            ::kill(child, SIGCONT);
            writing = writing && awaitFileLongerThan(pathOf(output), stoppedAt + 65536);
        }
        ::kill(child, SIGKILL);
        const ChildExit end = waitForChild(child);
        ASSERT_TRUE(writing) << "the run never wrote that far";
        ASSERT_EQ(end.signalNumber, SIGKILL) << "the run ended before it was killed";
        std::string problem;
        const auto samples = samplesOfUnfinishedOutput(pathOf(output), problem);
        ASSERT_TRUE(samples.has_value()) << problem;
        if (pastARefresh) {
            EXPECT_GT(samples->size(), 0u) << "audio written before a refresh must count";
        }
        ASSERT_LE(samples->size(), whole->data.size());
        EXPECT_TRUE(std::equal(samples->begin(), samples->end(), whole->data.begin()));
    }
}

class CliStopSignal : public CliSignals, public ::testing::WithParamInterface<int> { };

// SIGTERM and SIGHUP (a logout) stop a run as Ctrl-C does: the file is finished as far as it was
// written, and the exit status names the signal.
TEST_P(CliStopSignal, FinishesTheFileAndExitsWithTheSignalsStatus)
{
    const std::size_t frameCount = 8'000'000;
    writeLongInputs(frameCount);
    const ChildExit end = runAndSignal("stopped.wav", GetParam(), 46 + 4096);
    EXPECT_EQ(end.exitStatus, 128 + GetParam());
    std::string problem;
    const auto output = readOutputWave(pathOf("stopped.wav"), problem);
    ASSERT_TRUE(output.has_value()) << problem;
    EXPECT_GT(output->data.size(), 0u);
    EXPECT_LT(output->data.size(), frameCount);
}

INSTANTIATE_TEST_SUITE_P(Signals, CliStopSignal, ::testing::Values(SIGTERM, SIGHUP, SIGINT),
    [](const ::testing::TestParamInfo<int>& signal) {
        return std::string(sigabbrev_np(signal.param));
    });

// Ctrl-C with stderr on a file (not a terminal) still says how much of the run was kept, from
// what the file holds.
TEST_F(CliSignals, AStoppedRunSaysHowMuchWasKeptInTheOutput)
{
    const std::size_t frameCount = 8'000'000; // 181.41 s at 44100 Hz
    writeLongInputs(frameCount);
    const std::string errors = pathOf("errors.txt");
    const UniqueFd errorFile(
        ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    const pid_t child
        = startCli({ pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf("stopped.wav") }, {},
            devNull.get(), errorFile.get());
    const bool writing = awaitFileLongerThan(pathOf("stopped.wav"), 46 + 65536);
    ::kill(child, SIGINT);
    const ChildExit end = waitForChild(child);
    ASSERT_TRUE(writing);
    EXPECT_EQ(end.exitStatus, 130);
    const auto output = readOutputWave(pathOf("stopped.wav"));
    ASSERT_TRUE(output.has_value());
    char kept[32];
    std::snprintf(kept, sizeof kept, "%.2f", static_cast<double>(output->data.size()) / 44100.0);
    const Bytes said = readFile(errors);
    EXPECT_EQ(std::string(said.begin(), said.end()),
        "lumivox-cli: stopped: " + std::string(kept) + " s of 181.41 s kept in "
            + pathOf("stopped.wav") + "\n");
}

// With its stderr on a pipe nobody reads, a refused run still ends with its own status.
TEST_F(CliSignals, AClosedErrorPipeDoesNotKillTheProgram)
{
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    UniqueFd reader(pipeEnds[0]);
    const UniqueFd writer(pipeEnds[1]);
    reader.reset();
    const auto previous = std::signal(SIGPIPE, SIG_DFL); // the child must not inherit SIG_IGN
    const UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    const pid_t child = startCli({ pathOf("absent.wav"), pathOf("absent.wav"), pathOf("out.wav") },
        {}, devNull.get(), writer.get());
    const ChildExit end = waitForChild(child);
    std::signal(SIGPIPE, previous);
    EXPECT_EQ(end.signalNumber, 0);
    EXPECT_EQ(end.exitStatus, 1);
}

TEST_F(CliSignals, HelpOrVersionThatCannotBeWrittenExitsOne)
{
    const UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_GE(full.get(), 0);
    const UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    for (const char* option : { "--help", "--version" }) {
        SCOPED_TRACE(option);
        EXPECT_EQ(waitForChild(startCli({ option }, {}, full.get(), devNull.get())).exitStatus, 1);
        EXPECT_EQ(
            waitForChild(startCli({ option }, {}, devNull.get(), devNull.get())).exitStatus, 0);
    }
}

// A run that had to clamp samples says so on stderr (unless quiet) and still succeeds; the gain it
// names is the highest that does not clip.
TEST_F(CliSignals, ClippedSamplesAreReportedAfterTheRun)
{
    const WaveShape mono16 {};
    Bytes loud;
    for (int i = 0; i < 20000; ++i)
        appendUint16(loud, static_cast<std::uint16_t>((i / 40) % 2 ? 32000 : -32000));
    writeWaveFile(pathOf("carrier.wav"), mono16, loud);
    writeWaveFile(pathOf("modulator.wav"), mono16, loud);
    const auto vocode = [&](const std::vector<std::string>& options) {
        std::vector<std::string> arguments = options;
        arguments.insert(
            arguments.end(), { pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf("out.wav") });
        const CliRun result = runCli(arguments, folder);
        EXPECT_EQ(result.end.exitStatus, 0);
        return result.standardError;
    };
    const auto lines
        = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };

    const std::string loudest = vocode({ "--gain", "100" });
    const std::size_t clipped = loudest.find(" samples clipped; --gain ");
    ASSERT_NE(clipped, std::string::npos) << loudest;
    EXPECT_TRUE(loudest.ends_with(" or less would not clip\n")) << loudest;
    EXPECT_EQ(lines(loudest), 2) << loudest;
    const int named = std::stoi(loudest.substr(clipped + 25));
    ASSERT_LT(named, 100);
    const std::string atNamed = vocode({ "--gain", std::to_string(named) });
    EXPECT_EQ(atNamed.find("clipped"), std::string::npos) << atNamed;
    EXPECT_EQ(lines(atNamed), 1) << atNamed;
    const std::string aboveNamed = vocode({ "--gain", std::to_string(named + 1) });
    EXPECT_NE(aboveNamed.find("clipped"), std::string::npos) << aboveNamed;
    EXPECT_EQ(vocode({ "--gain", "100", "--quiet" }), "");
}
