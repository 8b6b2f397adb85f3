#include "console_port.h"

#include <gtest/gtest.h>
#include <sstream>

using lumivox::cli::ConsolePort;
using lumivox::cli::ProgressBar;

TEST(ConsolePort, AnErrorIsTheJobsSentenceOnALineOfItsOwn)
{
    std::ostringstream messages;
    ConsolePort port(messages, nullptr);
    port.showFailure("The carrier wave file could not be opened.", {});
    EXPECT_EQ(messages.str(), "lumivox-cli: The carrier wave file could not be opened.\n");
    EXPECT_EQ(port.lastError(), "The carrier wave file could not be opened.");
}

TEST(ConsolePort, AFailureNamesItsFileAndGivesTheCauseBelow)
{
    std::ostringstream messages;
    ConsolePort port(messages, nullptr);
    port.showFailure(
        "The carrier wave file could not be opened.", { "in.flac", "not a RIFF/WAVE file" });
    port.showFailure("The carrier and the modulator have different sample rates.",
        { "", "carrier 48000 Hz, modulator 44100 Hz" });
    EXPECT_EQ(messages.str(),
        "lumivox-cli: in.flac: The carrier wave file could not be opened.\n"
        "lumivox-cli: not a RIFF/WAVE file\n"
        "lumivox-cli: The carrier and the modulator have different sample rates.\n"
        "lumivox-cli: carrier 48000 Hz, modulator 44100 Hz\n");
}

TEST(ConsolePort, AnErrorAfterProgressStartsOnANewLine)
{
    std::ostringstream terminal;
    ProgressBar bar(terminal);
    ConsolePort port(terminal, &bar);
    port.progress(40);
    port.showFailure("The output wave file could not be written.", {});
    const std::string text = terminal.str();
    const std::string expectedEnd = "%\nlumivox-cli: The output wave file could not be written.\n";
    ASSERT_GE(text.size(), expectedEnd.size());
    EXPECT_EQ(text.substr(text.size() - expectedEnd.size()), expectedEnd);
}

TEST(ConsolePort, ProgressWithoutABarPrintsNothing)
{
    std::ostringstream messages;
    ConsolePort port(messages, nullptr);
    port.progress(10);
    port.progress(100);
    port.started(lumivox::job::JobMode::Vocode);
    port.released(lumivox::job::JobMode::Vocode);
    EXPECT_EQ(messages.str(), "");
}

TEST(ConsolePort, ProgressHoldsOnceAStopIsRequested)
{
    std::ostringstream terminal;
    ProgressBar bar(terminal);
    ConsolePort port(terminal, &bar);
    std::atomic<bool> stopRequested { false };
    port.holdProgressWhile(stopRequested);
    port.progress(37);
    stopRequested = true;
    port.progress(100);
    EXPECT_EQ(bar.shownPercent(), 37);
}

TEST(ConsolePort, QuestionsAreAnsweredNoAndProgramEndIsRecorded)
{
    std::ostringstream messages;
    ConsolePort port(messages, nullptr);
    EXPECT_FALSE(port.askQuestion("Vocoding is in progress, would you like to abort it?"));
    EXPECT_FALSE(port.programEndRequested());
    port.endProgram();
    EXPECT_TRUE(port.programEndRequested());
}
