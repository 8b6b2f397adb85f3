#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <algorithm>
#include <chrono>
#include <csignal>
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
    void writeLongInputs(std::size_t frameCount)
    {
        const WaveShape mono8 { 1, 1, 44100, 8 };
        writeWaveFile(pathOf("carrier.wav"), mono8, carrierSamples(frameCount, 1, 8));
        writeWaveFile(pathOf("modulator.wav"), mono8, modulatorSamples(frameCount, 1, 8));
    }
    std::vector<std::string> arguments(const std::string& output) const
    {
        return { "--quiet", pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf(output) };
    }
    // Starts a run, sends the signal after the delay and waits for the end.
    ChildExit runAndSignal(const std::string& output, int signalNumber,
        std::chrono::milliseconds delay, std::vector<std::string> environment = {})
    {
        const UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        const pid_t child = startCli(arguments(output), environment, devNull.get(), devNull.get());
        std::this_thread::sleep_for(delay);
        ::kill(child, signalNumber);
        return waitForChild(child);
    }
};

} // namespace

// Killed outright, the program cannot finish its file; the header it keeps up to date still makes
// the file a valid wave file whose samples are the start of a full run's.
TEST_F(CliSignals, AKilledRunLeavesAValidFileHoldingTheStartOfTheOutput)
{
    writeLongInputs(18'000'000);
    const CliRun complete = runCli(arguments("complete.wav"), folder);
    ASSERT_EQ(complete.end.exitStatus, 0) << complete.standardError;
    const auto whole = readOutputWave(pathOf("complete.wav"));
    ASSERT_TRUE(whole.has_value());

    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> moment(1500, 3500);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::chrono::milliseconds delay(moment(random));
        SCOPED_TRACE("killed after " + std::to_string(delay.count()) + " ms");
        const std::string output = "killed" + std::to_string(attempt) + ".wav";
        const ChildExit end = runAndSignal(output, SIGKILL, delay);
        std::string problem;
        const auto samples = samplesOfUnfinishedOutput(pathOf(output), problem);
        ASSERT_TRUE(samples.has_value()) << problem;
        if (end.signalNumber == SIGKILL) {
            EXPECT_GT(samples->size(), 0u) << "more than a second in, some audio must count";
        }
        ASSERT_LE(samples->size(), whole->data.size());
        EXPECT_TRUE(std::equal(samples->begin(), samples->end(), whole->data.begin()));
    }
}
