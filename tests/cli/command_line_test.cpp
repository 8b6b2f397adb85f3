#include "command_line.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

using lumivox::cli::CommandKind;
using lumivox::cli::ParsedCommand;

namespace {

ParsedCommand parse(std::initializer_list<std::string_view> arguments)
{
    const std::vector<std::string_view> list(arguments);
    return lumivox::cli::parseCommandLine(list);
}

} // namespace

TEST(CommandLine, ThreeOperandsVocodeWithTheSlidersAtTheirStartPositions)
{
    const auto command = parse({ "c.wav", "m.wav", "o.wav" });
    ASSERT_EQ(command.kind, CommandKind::Run);
    EXPECT_FALSE(command.options.preview);
    EXPECT_FALSE(command.options.quiet);
    EXPECT_EQ(command.options.clearance, 0);
    EXPECT_EQ(command.options.vagueness, 0);
    EXPECT_EQ(command.options.gain, 50);
    EXPECT_EQ(command.options.clarity, 0);
    EXPECT_EQ(command.options.carrierPath, "c.wav");
    EXPECT_EQ(command.options.modulatorPath, "m.wav");
    EXPECT_EQ(command.options.outputPath, "o.wav");
}

TEST(CommandLine, EveryOptionIsReadInBothSpellings)
{
    const auto command = parse({ "--clearance", "12", "--vagueness=100", "c.wav", "--gain", "0",
        "m.wav", "--quiet", "--clarity=37", "o" });
    ASSERT_EQ(command.kind, CommandKind::Run) << command.problem;
    EXPECT_EQ(command.options.clearance, 12);
    EXPECT_EQ(command.options.vagueness, 100);
    EXPECT_EQ(command.options.gain, 0);
    EXPECT_EQ(command.options.clarity, 37);
    EXPECT_EQ(parse({ "--clarity", "64", "c", "m", "o" }).options.clarity, 64);
    EXPECT_TRUE(command.options.quiet);
    EXPECT_EQ(command.options.outputPath, "o");
}

TEST(CommandLine, PreviewTakesTwoOperandsAndNoOutput)
{
    const auto command = parse({ "--preview", "--gain=75", "c.wav", "m.wav" });
    ASSERT_EQ(command.kind, CommandKind::Run) << command.problem;
    EXPECT_TRUE(command.options.preview);
    EXPECT_EQ(command.options.gain, 75);
    EXPECT_TRUE(command.options.outputPath.empty());

    EXPECT_EQ(parse({ "--preview", "c.wav", "m.wav", "o.wav" }).kind, CommandKind::BadUsage);
    EXPECT_EQ(parse({ "--preview", "c.wav" }).kind, CommandKind::BadUsage);
}

TEST(CommandLine, MissingOrExtraOperandsAreBadUsage)
{
    EXPECT_EQ(parse({}).kind, CommandKind::BadUsage);
    EXPECT_EQ(parse({ "c.wav", "m.wav" }).kind, CommandKind::BadUsage);
    const auto extra = parse({ "c.wav", "m.wav", "o.wav", "x.wav" });
    EXPECT_EQ(extra.kind, CommandKind::BadUsage);
    EXPECT_NE(extra.problem.find("'x.wav'"), std::string::npos) << extra.problem;
}

TEST(CommandLine, SliderValuesOutsideWholeNumbersFromZeroToHundredAreRefused)
{
    for (const std::string_view value :
        { "101", "-1", "1.5", "", "abc", "50x", " 5", "+5", "0x10", "1e2", "99999999999" }) {
        const auto command = parse({ "--gain", value, "c", "m", "o" });
        EXPECT_EQ(command.kind, CommandKind::BadUsage) << "value '" << value << "'";
        EXPECT_FALSE(command.problem.empty());
    }
    EXPECT_EQ(lumivox::cli::parseSliderPosition("0"), 0);
    EXPECT_EQ(lumivox::cli::parseSliderPosition("100"), 100);
    EXPECT_EQ(lumivox::cli::parseSliderPosition("007"), 7);
}

TEST(CommandLine, AnOptionWithoutItsValueIsBadUsage)
{
    const auto command = parse({ "c", "m", "o", "--clearance" });
    EXPECT_EQ(command.kind, CommandKind::BadUsage);
    EXPECT_NE(command.problem.find("--clearance"), std::string::npos);
}

TEST(CommandLine, UnknownOptionsAndValuesOnFlagsAreBadUsage)
{
    const auto unknown = parse({ "--loud", "c", "m", "o" });
    EXPECT_EQ(unknown.kind, CommandKind::BadUsage);
    EXPECT_NE(unknown.problem.find("'--loud'"), std::string::npos);
    EXPECT_EQ(parse({ "--quiet=yes", "c", "m", "o" }).kind, CommandKind::BadUsage);
    EXPECT_EQ(parse({ "-q", "c", "m", "o" }).kind, CommandKind::BadUsage);
}

TEST(CommandLine, HelpAndVersionWinOverMissingOperands)
{
    EXPECT_EQ(parse({ "--help" }).kind, CommandKind::Help);
    EXPECT_EQ(parse({ "-h" }).kind, CommandKind::Help);
    EXPECT_EQ(parse({ "c.wav", "--version" }).kind, CommandKind::Version);
}

TEST(CommandLine, DoubleDashLetsPathsBeginWithADash)
{
    const auto command = parse({ "--quiet", "--", "--gain", "-c.wav", "-" });
    ASSERT_EQ(command.kind, CommandKind::Run) << command.problem;
    EXPECT_EQ(command.options.carrierPath, "--gain");
    EXPECT_EQ(command.options.modulatorPath, "-c.wav");
    EXPECT_EQ(command.options.outputPath, "-");
}

TEST(CommandLine, LongPathsArriveUncut)
{
    const std::string longPath = "/tmp/" + std::string(600, 'a') + ".wav";
    const auto command = parse({ longPath, "m", "o" });
    ASSERT_EQ(command.kind, CommandKind::Run);
    EXPECT_EQ(command.options.carrierPath, longPath);
}

TEST(CommandLine, AnEmptyPathIsBadUsage)
{
    const auto command = parse({ "c.wav", "", "o.wav" });
    EXPECT_EQ(command.kind, CommandKind::BadUsage);
    EXPECT_NE(command.problem.find("modulator"), std::string::npos);
}

TEST(CommandLine, TheUsageHintIsOneLineNamingTheProgramAndHelp)
{
    const std::string line = lumivox::cli::badUsageLine("unknown option '--x'");
    EXPECT_EQ(line, "lumivox-cli: unknown option '--x' (try --help)");
}

namespace {

struct NormalizeCase {
    std::string_view option;
    std::optional<double> decibels; // empty: refused as bad usage
};

class NormalizeOption : public ::testing::TestWithParam<NormalizeCase> { };

} // namespace

// --normalize alone asks for a peak of -1 dBFS; --normalize=DB for any from -60 to 0.
TEST_P(NormalizeOption, AsksForThePeakGivenOrIsRefused)
{
    const NormalizeCase c = GetParam();
    const auto command = parse({ "c.wav", c.option, "m.wav", "o.wav" });
    if (!c.decibels) {
        ASSERT_EQ(command.kind, CommandKind::BadUsage);
        EXPECT_NE(command.problem.find("is not a peak for --normalize"), std::string::npos)
            << command.problem;
        return;
    }
    ASSERT_EQ(command.kind, CommandKind::Run) << command.problem;
    ASSERT_TRUE(command.options.normalizeDecibels.has_value());
    EXPECT_EQ(*command.options.normalizeDecibels, *c.decibels);
}

INSTANTIATE_TEST_SUITE_P(Values, NormalizeOption,
    ::testing::Values(NormalizeCase { "--normalize", -1.0 },
        NormalizeCase { "--normalize=-3", -3.0 }, NormalizeCase { "--normalize=-0.5", -0.5 },
        NormalizeCase { "--normalize=0", 0.0 }, NormalizeCase { "--normalize=-60", -60.0 },
        NormalizeCase { "--normalize=1", {} }, NormalizeCase { "--normalize=-61", {} },
        NormalizeCase { "--normalize=+0", {} }, NormalizeCase { "--normalize=", {} },
        NormalizeCase { "--normalize=-1dB", {} }, NormalizeCase { "--normalize=nan", {} }));

TEST(CommandLine, WithoutNormalizeTheLevelIsLeftAsMade)
{
    EXPECT_FALSE(parse({ "c", "m", "o" }).options.normalizeDecibels.has_value());
}
