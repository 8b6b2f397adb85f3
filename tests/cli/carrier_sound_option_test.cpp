#include "command_line.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

using lumivox::cli::CommandKind;
using lumivox::engine::ChordType;
using lumivox::job::CarrierKind;

namespace {

struct SoundCase {
    std::vector<std::string_view> arguments;
    CarrierKind kind;
    int chordRoot;
    ChordType chordType;
    int semitones;
    const char* modulator; // where the operand lands
    const char* output;
};

class CarrierSoundOption : public ::testing::TestWithParam<SoundCase> { };

TEST_P(CarrierSoundOption, TakesTheCarriersPlace)
{
    const SoundCase c = GetParam();
    const auto command = lumivox::cli::parseCommandLine(c.arguments);
    ASSERT_EQ(command.kind, CommandKind::Run) << command.problem;
    const auto& options = command.options;
    EXPECT_EQ(options.carrier.kind, c.kind);
    EXPECT_EQ(options.carrier.chordRoot, c.chordRoot);
    EXPECT_EQ(options.carrier.chordType, c.chordType);
    EXPECT_EQ(options.carrier.followSemitones, c.semitones);
    EXPECT_TRUE(options.carrierPath.empty());
    EXPECT_EQ(options.modulatorPath, c.modulator);
    EXPECT_EQ(options.outputPath, c.output);
}

INSTANTIATE_TEST_SUITE_P(Sounds, CarrierSoundOption,
    ::testing::Values(SoundCase { { "--carrier-sound", "chord", "m", "o" }, CarrierKind::Chord, 48,
                          ChordType::Major, 0, "m", "o" },
        SoundCase { { "--carrier-sound=chord:F#2", "m", "o" }, CarrierKind::Chord, 42,
            ChordType::Major, 0, "m", "o" },
        SoundCase { { "m", "--carrier-sound", "chord:C4:octave", "o" }, CarrierKind::Chord, 60,
            ChordType::Octave, 0, "m", "o" },
        SoundCase { { "--carrier-sound", "chord:Bb2:minor", "m", "o" }, CarrierKind::Chord, 46,
            ChordType::Minor, 0, "m", "o" },
        SoundCase { { "--carrier-sound", "chord:C3:Minor", "m", "o" }, CarrierKind::Chord, 48,
            ChordType::Minor, 0, "m", "o" },
        SoundCase { { "--carrier-sound", "chord:g#2:FIFTH", "m", "o" }, CarrierKind::Chord, 44,
            ChordType::Fifth, 0, "m", "o" },
        SoundCase { { "--carrier-sound", "noise", "--preview", "m" }, CarrierKind::Noise, 48,
            ChordType::Major, 0, "m", "" },
        SoundCase { { "--carrier-sound", "follow", "m", "o" }, CarrierKind::FollowVoice, 48,
            ChordType::Major, 0, "m", "o" },
        SoundCase { { "--carrier-sound", "follow:-12", "m", "o" }, CarrierKind::FollowVoice, 48,
            ChordType::Major, -12, "m", "o" },
        SoundCase { { "--carrier-sound=follow:+7", "--", "-m", "o" }, CarrierKind::FollowVoice, 48,
            ChordType::Major, 7, "-m", "o" }));

struct RefusedCase {
    std::vector<std::string_view> arguments;
    const char* problem; // the line must say this
};

class CarrierSoundRefused : public ::testing::TestWithParam<RefusedCase> { };

TEST_P(CarrierSoundRefused, IsBadUsageWithALineSayingWhy)
{
    const RefusedCase c = GetParam();
    const auto command = lumivox::cli::parseCommandLine(c.arguments);
    ASSERT_EQ(command.kind, CommandKind::BadUsage);
    EXPECT_NE(command.problem.find(c.problem), std::string::npos) << command.problem;
    EXPECT_EQ(command.problem.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Refusals, CarrierSoundRefused,
    ::testing::Values(RefusedCase { { "m", "o", "--carrier-sound" }, "needs a value" },
        RefusedCase { { "--carrier-sound", "organ", "m", "o" }, "'organ' is not a carrier sound" },
        RefusedCase { { "--carrier-sound", "noise:1", "m", "o" }, "is not a carrier sound" },
        RefusedCase { { "--carrier-sound", "chord:B1", "m", "o" }, "'B1' is not a chord root" },
        RefusedCase { { "--carrier-sound", "chord:C#4", "m", "o" }, "is not a chord root" },
        RefusedCase {
            { "--carrier-sound", "chord:C3:dim", "m", "o" }, "'dim' is not a chord type" },
        RefusedCase {
            { "--carrier-sound", "chord:C3:minors", "m", "o" }, "'minors' is not a chord type" },
        RefusedCase { { "--carrier-sound", "follow:13", "m", "o" }, "'13' is not an interval" },
        RefusedCase { { "--carrier-sound", "follow:2.5", "m", "o" }, "is not an interval" },
        RefusedCase { { "--carrier-sound", "follow:+-2", "m", "o" }, "is not an interval" },
        RefusedCase { { "--carrier-sound", "noise", "c", "m", "o" }, "unexpected operand 'o'" },
        RefusedCase { { "--carrier-sound", "noise", "m" }, "give MODULATOR and OUTPUT" },
        RefusedCase { { "--carrier-sound", "noise", "--preview" }, "--preview needs MODULATOR" },
        RefusedCase { { "--carrier-sound", "noise", "--repeat-carrier", "m", "o" },
            "--repeat-carrier repeats a carrier file" },
        RefusedCase { { "--repeat-carrier=yes", "c", "m", "o" }, "takes no value" }));

TEST(RepeatCarrierOption, KeepsTheCarrierOperand)
{
    const std::vector<std::string_view> arguments { "c", "--repeat-carrier", "m", "o" };
    const auto command = lumivox::cli::parseCommandLine(arguments);
    ASSERT_EQ(command.kind, CommandKind::Run) << command.problem;
    EXPECT_TRUE(command.options.repeatCarrier);
    EXPECT_EQ(command.options.carrier.kind, CarrierKind::File);
    EXPECT_EQ(command.options.carrierPath, "c");
}

} // namespace
