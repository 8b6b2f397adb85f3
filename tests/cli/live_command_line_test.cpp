#include "live_command_line.h"

#include <gtest/gtest.h>
#include <vector>

namespace lumivox::cli {
namespace {

    ParsedLiveCommand parse(std::vector<std::string_view> arguments)
    {
        return parseLiveCommandLine(arguments);
    }

    TEST(LiveCommandLine, IsAskedForByTheLiveOptionBeforeAnyDoubleDash)
    {
        EXPECT_TRUE(asksForLive(std::vector<std::string_view> { "--gain", "60", "--live", "x" }));
        EXPECT_FALSE(asksForLive(std::vector<std::string_view> { "c.wav", "m.wav", "o.wav" }));
        EXPECT_FALSE(asksForLive(std::vector<std::string_view> { "--", "--live", "m", "o" }));
    }

    struct GoodCase {
        const char* name;
        std::vector<std::string_view> arguments;
        job::CarrierKind kind;
        std::string carrierPath;
        bool fromPort;
        std::string recordPath;
        bool connect;
        job::SoundSettings sound;
        std::string bands = "classic"; // as layoutChoiceText writes the layout
    };

    class LiveCommands : public ::testing::TestWithParam<GoodCase> { };

    TEST_P(LiveCommands, SayWhatToPlay)
    {
        const GoodCase& expected = GetParam();
        const ParsedLiveCommand command = parse(expected.arguments);
        ASSERT_EQ(command.kind, LiveCommandKind::Run) << command.problem;
        const job::LiveSettings& settings = command.settings;
        EXPECT_EQ(settings.carrier.kind, expected.kind);
        EXPECT_EQ(settings.carrierPath, expected.carrierPath);
        EXPECT_EQ(settings.carrierFromPort, expected.fromPort);
        EXPECT_EQ(settings.recordPath, expected.recordPath);
        EXPECT_EQ(settings.connect, expected.connect);
        EXPECT_EQ(settings.sound.clearance, expected.sound.clearance);
        EXPECT_EQ(settings.sound.vagueness, expected.sound.vagueness);
        EXPECT_EQ(settings.sound.gain, expected.sound.gain);
        EXPECT_EQ(settings.sound.clarity, expected.sound.clarity);
        EXPECT_EQ(engine::layoutChoiceText(settings.bands), expected.bands);
    }

    INSTANTIATE_TEST_SUITE_P(Commands, LiveCommands,
        ::testing::Values(GoodCase { "file", { "--live", "synth.wav" }, job::CarrierKind::File,
                              "synth.wav", false, "", true, {} },
            GoodCase { "port", { "--live", "--no-connect", "jack" }, job::CarrierKind::File, "",
                true, "", false, {} },
            GoodCase { "sound",
                { "--carrier-sound", "chord:A2:minor", "--live", "--record=out.wav" },
                job::CarrierKind::Chord, "", false, "out.wav", true, {} },
            GoodCase { "sliders",
                { "--live", "--gain", "80", "--vagueness=20", "--clearance", "5", "--clarity", "9",
                    "--record", "r.wav", "--carrier-sound", "follow:+7" },
                job::CarrierKind::FollowVoice, "", false, "r.wav", true, { 5, 20, 80, 9 } },
            GoodCase { "dashPath", { "--live", "--", "-odd.wav" }, job::CarrierKind::File,
                "-odd.wav", false, "", true, {} },
            GoodCase { "speech", { "--live", "--bands=speech", "jack" }, job::CarrierKind::File, "",
                true, "", true, {}, "speech" },
            GoodCase { "customBands",
                { "--band-range", "100:8000", "--live", "--bands", "20", "x.wav" },
                job::CarrierKind::File, "x.wav", false, "", true, {}, "20:100:8000" }),
        [](const auto& named) { return std::string(named.param.name); });

    struct BadCase {
        const char* name;
        std::vector<std::string_view> arguments;
        std::string problem;
    };

    class LiveMisuse : public ::testing::TestWithParam<BadCase> { };

    TEST_P(LiveMisuse, IsRefusedWithTheReason)
    {
        const ParsedLiveCommand command = parse(GetParam().arguments);
        EXPECT_EQ(command.kind, LiveCommandKind::BadUsage);
        EXPECT_EQ(command.problem, GetParam().problem);
    }

    INSTANTIATE_TEST_SUITE_P(Misuse, LiveMisuse,
        ::testing::Values(BadCase { "noCarrier", { "--live" },
                              "missing operand: --live needs CARRIER, 'jack' or --carrier-sound" },
            BadCase { "twoOperands", { "--live", "c.wav", "m.wav" },
                "unexpected operand 'm.wav': --live takes the voice from the audio input" },
            BadCase { "soundAndFile", { "--live", "--carrier-sound", "noise", "c.wav" },
                "unexpected operand 'c.wav': --carrier-sound takes the carrier's place" },
            BadCase { "recordWithoutPath", { "--live", "c.wav", "--record" },
                "option '--record' needs a file to record to" },
            BadCase {
                "emptyRecord", { "--live", "c.wav", "--record=" }, "the record path is empty" },
            BadCase { "badSlider", { "--live", "c.wav", "--gain", "101" },
                "'101' is not a valid value for --gain: give a whole number from 0 to 100" },
            // What a terminal would act on is shown escaped, as in a file run's messages.
            BadCase { "escapedSlider", { "--live", "c.wav", "--clarity", "\x1b[31m" },
                "'\\033[31m' is not a valid value for --clarity: give a whole number from 0 to "
                "100" },
            BadCase { "escapedOperand", { "--live", "c.wav", "m\n.wav" },
                "unexpected operand 'm\\n.wav': --live takes the voice from the audio input" },
            BadCase { "badSound", { "--live", "--carrier-sound", "bells" },
                "'bells' is not a carrier sound: give chord[:ROOT[:TYPE]], noise or "
                "follow[:SEMITONES]" },
            BadCase { "fileOption", { "--live", "--preview", "c.wav" },
                "unknown option '--preview' for --live" },
            BadCase { "valueOnFlag", { "--live=yes", "c.wav" }, "option '--live' takes no value" },
            BadCase { "tooFewBands", { "--live", "c.wav", "--bands", "3" },
                "'3' is not a band layout: give a count from 4 to 64, classic or speech" },
            BadCase { "rangeBackwards", { "--live", "c.wav", "--band-range=5000:100" },
                "'5000:100' is not a band range: give LOW:HIGH in Hz with LOW below HIGH, such as "
                "100:8000" },
            BadCase { "rangeWithSpeech",
                { "--live", "c.wav", "--bands=speech", "--band-range=1:2" },
                "'1:2' starts below 10 Hz, the lowest a band may reach" }),
        [](const auto& named) { return std::string(named.param.name); });

    TEST(LiveCommandLine, HelpIsAnswered)
    {
        EXPECT_EQ(parse({ "--live", "--help" }).kind, LiveCommandKind::Help);
    }

    struct LevelCase {
        float peak;
        const char* text;
    };

    class LevelTexts : public ::testing::TestWithParam<LevelCase> { };

    TEST_P(LevelTexts, AreDecibelsBelowFullScale)
    {
        EXPECT_EQ(decibelText(GetParam().peak), GetParam().text);
    }

    INSTANTIATE_TEST_SUITE_P(Levels, LevelTexts,
        ::testing::Values(LevelCase { 1.0F, "0.0 dBFS" }, LevelCase { 0.5F, "-6.0 dBFS" },
            LevelCase { 0.001F, "-60.0 dBFS" }, LevelCase { 0.0F, "-inf dBFS" }));

    TEST(LiveStatusLine, ShowsTheLevelsAndTheMissedCycles)
    {
        job::LiveStatus status;
        status.meters = { 0.1F, 0.5F };
        status.missedCycles = 4;
        EXPECT_EQ(liveStatusLine(status),
            "lumivox-cli: live: input -20.0 dBFS, output peak -6.0 dBFS, 4 missed cycles");
        status.recordFramesLost = 256;
        EXPECT_TRUE(liveStatusLine(status).ends_with(", 256 frames not recorded"));
    }

    TEST(LiveStartText, SaysWhatPlaysAndHowLongTheBandsHoldAVoiceBack)
    {
        job::LiveStart start;
        start.audio = "JACK client 'lumivox' at 48000 Hz, 128 frames a period";
        start.sampleRate = 48000;
        start.periodFrames = 128;
        start.lowDelay = { 300.0, 12, 315.2, 0.0243 };
        start.highDelay = { 1000.0, 17, 962.4, 0.00595 };
        EXPECT_EQ(liveStartText(start),
            "lumivox-cli: live on JACK client 'lumivox' at 48000 Hz, 128 frames a period (2.7 ms)\n"
            "lumivox-cli: the bands delay a voice by 24.3 ms at 300 Hz and 6.0 ms at 1 kHz (in the "
            "bands centred on 315 Hz and 962 Hz)\n");
    }

} // namespace
} // namespace lumivox::cli
