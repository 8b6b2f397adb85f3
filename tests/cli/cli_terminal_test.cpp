#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

using namespace lumivox::cli::test;

namespace {

// The percentages drawn by the progress bar, in the order drawn.
std::vector<int> percentagesIn(const std::string& text)
{
    std::vector<int> percentages;
    for (std::size_t sign = text.find('%'); sign != std::string::npos;
         sign = text.find('%', sign + 1)) {
        std::size_t start = sign;
        while (start > 0 && (std::isdigit(static_cast<unsigned char>(text[start - 1])) != 0))
            --start;
        if (start < sign)
            percentages.push_back(std::stoi(text.substr(start, sign - start)));
    }
    return percentages;
}

class CliOnATerminal : public ScratchFolderTest {
protected:
    void writeInputs(std::size_t frameCount, const WaveShape& shape)
    {
        writeWaveFile(
            carrierPath(), shape, carrierSamples(frameCount, shape.channels, shape.bitsPerSample));
        writeWaveFile(modulatorPath(), shape,
            modulatorSamples(frameCount, shape.channels, shape.bitsPerSample));
    }
    std::string carrierPath() const { return pathOf("carrier.wav"); }
    std::string modulatorPath() const { return pathOf("modulator.wav"); }
    std::string outputPath() const { return pathOf("output.wav"); }

    // Runs to the end with stderr on a terminal; returns what the terminal showed.
    std::string runOnTerminal(const std::vector<std::string>& arguments, ChildExit& end)
    {
        Terminal terminal = openTerminal();
        const UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        const pid_t child = startCli(arguments, {}, devNull.get(), terminal.terminalSide.get());
        terminal.terminalSide.reset();
        const std::string shown = readUntilClosed(terminal.reader.get());
        end = waitForChild(child);
        return shown;
    }
};

} // namespace

TEST_F(CliOnATerminal, ShowsAProgressBarDrawnOncePerPercentage)
{
    writeInputs(30000, {});
    ChildExit end;
    const std::string shown = runOnTerminal({ carrierPath(), modulatorPath(), outputPath() }, end);
    EXPECT_EQ(end.exitStatus, 0);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), '\r');
    // The bar's line, ended once, then the line that says what was written.
    const std::string bar = shown.substr(0, shown.find('\n') + 1);
    const std::string after = shown.substr(bar.size());
    EXPECT_TRUE(after.starts_with("lumivox-cli: ")) << after;
    EXPECT_NE(after.find(" s written to " + outputPath() + ", peak "), std::string::npos) << after;
    EXPECT_EQ(after.find('\n'), after.size() - 1) << after;

    const std::vector<int> percentages = percentagesIn(bar);
    ASSERT_GE(percentages.size(), 2u);
    EXPECT_EQ(percentages.back(), 100);
    for (std::size_t index = 1; index < percentages.size(); ++index)
        EXPECT_LT(percentages[index - 1], percentages[index]) << "drawn again without a change";
}

TEST_F(CliOnATerminal, QuietShowsNothing)
{
    writeInputs(30000, {});
    ChildExit end;
    const std::string shown
        = runOnTerminal({ "--quiet", carrierPath(), modulatorPath(), outputPath() }, end);
    EXPECT_EQ(end.exitStatus, 0);
    EXPECT_EQ(shown, "");
}

TEST_F(CliOnATerminal, AnErrorIsShownAloneWithoutABar)
{
    writeInputs(1000, {});
    writeWaveFile(modulatorPath(), { 1, 11, 8000, 16 }, modulatorSamples(1000, 11, 16));
    ChildExit end;
    const std::string shown = runOnTerminal({ carrierPath(), modulatorPath(), outputPath() }, end);
    EXPECT_EQ(end.exitStatus, 1);
    EXPECT_EQ(shown,
        "lumivox-cli: " + modulatorPath()
            + ": The modulator must have one or two channels.\nlumivox-cli: 11 channels\n");
}

// Ctrl-C once the loop has started: the run stops at the next block, the file is finished as far
// as it was written, and the exit status says the run was interrupted.
TEST_F(CliOnATerminal, InterruptStopsTheRunAndFinishesTheFile)
{
    const std::size_t frameCount = 4'000'000; // long enough never to end on its own first
    const WaveShape mono8 { 1, 1, 8000, 8 };
    writeInputs(frameCount, mono8);

    Terminal terminal = openTerminal();
    const UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    const pid_t child = startCli({ carrierPath(), modulatorPath(), outputPath() }, {},
        devNull.get(), terminal.terminalSide.get());
    terminal.terminalSide.reset();

    std::string shown;
    bool interrupted = false;
    char buffer[256];
    for (;;) {
        const ssize_t count = ::read(terminal.reader.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        shown.append(buffer, static_cast<std::size_t>(count));
        const std::vector<int> percentages = percentagesIn(shown);
        if (!interrupted && !percentages.empty() && percentages.back() >= 1) {
            ASSERT_EQ(::kill(child, SIGINT), 0);
            interrupted = true;
        }
    }
    const ChildExit end = waitForChild(child);
    ASSERT_TRUE(interrupted) << "no progress seen: " << shown;

    EXPECT_EQ(end.exitStatus, 130);
    EXPECT_EQ(shown.back(), '\n');
    EXPECT_EQ(shown.find("100%"), std::string::npos) << "a stopped run must not show 100%";

    std::string problem;
    const auto output = readOutputWave(outputPath(), problem);
    ASSERT_TRUE(output.has_value()) << problem;
    EXPECT_GT(output->data.size(), 0u);
    EXPECT_LT(output->data.size(), frameCount);
    EXPECT_EQ(output->data.size() % 4096, 0u) << "whole blocks are written";
}
