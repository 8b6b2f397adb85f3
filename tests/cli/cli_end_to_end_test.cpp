#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace lumivox::cli::test;

namespace {

constexpr const char* carrierNotPcm
    = "The carrier is either not a valid PCM file, or it has a bit resolution highr than 16.";
constexpr const char* modulatorNotPcm
    = "The modulator is either not a valid PCM file, or it has a bit resolution highr than 16.";

class CliEndToEnd : public ScratchFolderTest {
protected:
    // Writes a carrier and a modulator of the given lengths in frames.
    void writeInputs(std::size_t carrierFrames, std::size_t modulatorFrames, WaveShape carrier = {},
        WaveShape modulator = {})
    {
        writeWaveFile(carrierPath(), carrier,
            carrierSamples(carrierFrames, carrier.channels, carrier.bitsPerSample));
        writeWaveFile(modulatorPath(), modulator,
            modulatorSamples(modulatorFrames, modulator.channels, modulator.bitsPerSample));
    }
    std::string carrierPath() const { return pathOf("carrier.wav"); }
    std::string modulatorPath() const { return pathOf("modulator.wav"); }
    std::string outputPath() const { return pathOf("output.wav"); }

    // Runs a file job with the given options and returns the output's samples.
    std::vector<std::uint8_t> vocodeWith(const std::vector<std::string>& options)
    {
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), { carrierPath(), modulatorPath(), outputPath() });
        const CliRun run = runCli(arguments, folder);
        EXPECT_EQ(run.end.exitStatus, 0) << run.standardError;
        std::string problem;
        const auto output = readOutputWave(outputPath(), problem);
        EXPECT_TRUE(output.has_value()) << problem;
        return output ? output->data : std::vector<std::uint8_t> {};
    }
};

} // namespace

// The level as the output file holds it: the loudest sample against full scale, to a tenth of a dB.
static std::string peakOf(const std::vector<std::uint8_t>& samples)
{
    int loudest = 0;
    for (std::size_t offset = 0; offset + 1 < samples.size(); offset += 2) {
        const auto sample = static_cast<std::int16_t>(samples[offset] | samples[offset + 1] << 8);
        loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
    }
    if (loudest == 0)
        return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(loudest / 32767.0));
    return text;
}

TEST_F(CliEndToEnd, OutputIsAsLongAsTheShorterInputAndOneLineSaysSo)
{
    struct Case {
        int carrierFrames, modulatorFrames;
        const char* cutShort; // a 4000-frame cut is 0.09 s: told of the modulator only
    };
    for (const Case& c : { Case { 10000, 6000, "" },
             Case { 6000, 10000,
                 "lumivox-cli: the carrier ended first; 0.09 s of the modulator was left "
                 "out\nlumivox-cli: --repeat-carrier plays the carrier again from its start to "
                 "the modulator's length\n" } }) {
        writeInputs(c.carrierFrames, c.modulatorFrames);
        const CliRun run = runCli({ carrierPath(), modulatorPath(), outputPath() }, folder);
        EXPECT_EQ(run.end.exitStatus, 0);
        EXPECT_EQ(run.standardOutput, "");
        std::string problem;
        const auto output = readOutputWave(outputPath(), problem);
        ASSERT_TRUE(output.has_value()) << problem;
        // stderr is a file, not a terminal: no progress bar, only what was written.
        EXPECT_EQ(run.standardError,
            "lumivox-cli: 0.14 s written to " + outputPath() + ", peak " + peakOf(output->data)
                + "\n" + c.cutShort);
        EXPECT_NE(peakOf(output->data), "-inf dBFS");
        EXPECT_EQ(output->data.size(), 6000u * 2);
        EXPECT_EQ(output->shape.channels, 1);
        EXPECT_EQ(output->shape.sampleRate, 44100u);
        EXPECT_EQ(output->shape.bitsPerSample, 16);
    }
}

TEST_F(CliEndToEnd, ABuiltInOrRepeatedCarrierLastsAsLongAsTheModulator)
{
    struct Case {
        std::vector<std::string> options;
        bool carrierOperand;
        std::uint16_t modulatorBits;
    };
    for (const Case& c : { Case { { "--carrier-sound", "chord:C2:minor" }, false, 16 },
             Case { { "--carrier-sound=follow:-5" }, false, 8 },
             Case { { "--carrier-sound", "noise" }, false, 16 },
             Case { { "--repeat-carrier" }, true, 16 } }) {
        WaveShape voice;
        voice.bitsPerSample = c.modulatorBits;
        writeInputs(6000, 10000, voice, voice);
        std::vector<std::string> arguments = c.options;
        if (c.carrierOperand)
            arguments.push_back(carrierPath());
        arguments.insert(arguments.end(), { modulatorPath(), outputPath() });
        const CliRun run = runCli(arguments, folder);
        EXPECT_EQ(run.end.exitStatus, 0) << run.standardError;
        std::string problem;
        const auto output = readOutputWave(outputPath(), problem);
        ASSERT_TRUE(output.has_value()) << problem;
        // 16-bit whatever the modulator's depth, as long as the modulator, nothing cut short.
        EXPECT_EQ(output->shape.bitsPerSample, 16);
        EXPECT_EQ(output->data.size(), 10000u * 2);
        EXPECT_EQ(run.standardError,
            "lumivox-cli: 0.23 s written to " + outputPath() + ", peak " + peakOf(output->data)
                + "\n");
        EXPECT_NE(peakOf(output->data), "-inf dBFS");
    }
}

TEST_F(CliEndToEnd, AStereoEightBitCarrierGivesMonoAtTheCarriersRateAndDepth)
{
    const WaveShape stereo8 { 1, 2, 22050, 8 };
    const WaveShape mono8 { 1, 1, 22050, 8 };
    writeInputs(5001, 7000, stereo8, mono8);
    const CliRun run = runCli({ "--quiet", carrierPath(), modulatorPath(), outputPath() }, folder);
    ASSERT_EQ(run.end.exitStatus, 0) << run.standardError;
    std::string problem;
    const auto output = readOutputWave(outputPath(), problem);
    ASSERT_TRUE(output.has_value()) << problem;
    EXPECT_EQ(output->data.size(), 5001u);
    EXPECT_EQ(output->shape.channels, 1);
    EXPECT_EQ(output->shape.sampleRate, 22050u);
    EXPECT_EQ(output->shape.bitsPerSample, 8);
}

TEST_F(CliEndToEnd, TheSliderOptionsReachTheEngine)
{
    writeInputs(8000, 8000);
    const auto standard = vocodeWith({});
    ASSERT_EQ(standard.size(), 16000u);
    EXPECT_TRUE(std::ranges::any_of(standard, [](std::uint8_t byte) { return byte != 0; }));

    const auto silent = vocodeWith({ "--gain", "0" });
    ASSERT_EQ(silent.size(), standard.size());
    EXPECT_TRUE(std::ranges::all_of(silent, [](std::uint8_t byte) { return byte == 0; }));

    EXPECT_EQ(vocodeWith({ "--gain=50", "--clearance", "0", "--vagueness=0" }), standard);
    EXPECT_NE(vocodeWith({ "--clearance", "100" }), standard);
    EXPECT_NE(vocodeWith({ "--vagueness", "100" }), standard);
    EXPECT_NE(vocodeWith({ "--gain", "100" }), standard);
}

enum class Named { Neither, Carrier, Modulator };

struct RefusedRun {
    const char* name;
    WaveShape carrier;
    WaveShape modulator;
    const char* message;
    Named file; // the file the first line names
    const char* cause; // the second line
};

class CliRefusal : public CliEndToEnd, public ::testing::WithParamInterface<RefusedRun> { };

TEST_P(CliRefusal, ExitsOneWithTheMessageTheFileAndTheCause)
{
    const RefusedRun& refused = GetParam();
    writeInputs(3000, 3000, refused.carrier, refused.modulator);
    const CliRun run = runCli({ carrierPath(), modulatorPath(), outputPath() }, folder);
    EXPECT_EQ(run.end.exitStatus, 1);
    std::string file;
    if (refused.file != Named::Neither)
        file = (refused.file == Named::Carrier ? carrierPath() : modulatorPath()) + ": ";
    EXPECT_EQ(run.standardError,
        "lumivox-cli: " + file + refused.message + "\nlumivox-cli: " + refused.cause + "\n");
    EXPECT_EQ(run.standardOutput, "");
    EXPECT_FALSE(std::filesystem::exists(outputPath()));
}

INSTANTIATE_TEST_SUITE_P(InputChecks, CliRefusal,
    ::testing::Values(RefusedRun { "RateZero", { 1, 1, 0, 16 }, { 1, 1, 0, 16 }, carrierNotPcm,
                          Named::Carrier, "a sample rate of 0 Hz" },
        RefusedRun { "RateOverflowingTheByteRate", { 1, 1, 44100, 16 }, { 1, 1, 4'000'000'000, 16 },
            modulatorNotPcm, Named::Modulator,
            "a sample rate of 4000000000 Hz, too high for a wave file" },
        RefusedRun { "NineChannels", { 1, 9, 44100, 16 }, { 1, 1, 44100, 16 },
            "The carrier must have one or two channels.", Named::Carrier, "9 channels" }),
    [](const ::testing::TestParamInfo<RefusedRun>& run) { return std::string(run.param.name); });

// Inputs of other depths, rates and channel counts than each other are vocoded; the output has the
// carrier's rate and a depth the carrier decides, and stderr says what was converted.
struct ConvertedRun {
    const char* name;
    WaveShape carrier;
    WaveShape modulator;
    std::uint16_t outputBits;
    const char* said; // on stderr
};

class CliConversion : public CliEndToEnd, public ::testing::WithParamInterface<ConvertedRun> { };

TEST_P(CliConversion, VocodesAndSaysWhatWasConverted)
{
    const ConvertedRun& converted = GetParam();
    writeInputs(6000, 6000, converted.carrier, converted.modulator);
    const CliRun run = runCli({ carrierPath(), modulatorPath(), outputPath() }, folder);
    EXPECT_EQ(run.end.exitStatus, 0) << run.standardError;
    const bool saysResampled = run.standardError.find(" resampled ") != std::string::npos;
    EXPECT_EQ(saysResampled, *converted.said != '\0') << run.standardError;
    EXPECT_NE(run.standardError.find(converted.said), std::string::npos) << run.standardError;
    std::string problem;
    const auto output = readOutputWave(outputPath(), problem);
    ASSERT_TRUE(output) << problem;
    EXPECT_EQ(output->shape.sampleRate, converted.carrier.sampleRate);
    EXPECT_EQ(output->shape.bitsPerSample, converted.outputBits);
    const double outputFrames
        = static_cast<double>(output->data.size()) / (converted.outputBits / 8);
    const double modulatorFrames = 6000.0 * converted.carrier.sampleRate
        / static_cast<double>(converted.modulator.sampleRate);
    EXPECT_NEAR(outputFrames, std::min(6000.0, modulatorFrames), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, CliConversion,
    ::testing::Values(
        ConvertedRun { "ModulatorAtHalfTheRate", { 1, 1, 44100, 16 }, { 1, 1, 22050, 16 }, 16,
            "lumivox-cli: modulator resampled from 22050 Hz to 44100 Hz\n" },
        ConvertedRun { "ModulatorAtAHigherRate", { 1, 1, 22050, 8 }, { 1, 2, 48000, 16 }, 8,
            "lumivox-cli: modulator resampled from 48000 Hz to 22050 Hz\n" },
        ConvertedRun { "DepthsDiffer", { 1, 1, 44100, 8 }, { 1, 1, 44100, 16 }, 8, "" },
        ConvertedRun { "TwentyFourBits", { 1, 2, 48000, 24 }, { 1, 1, 48000, 24 }, 24, "" },
        ConvertedRun { "ThreeChannels", { 1, 3, 44100, 16 }, { 1, 6, 44100, 16 }, 16, "" }),
    [](const ::testing::TestParamInfo<ConvertedRun>& run) { return std::string(run.param.name); });

TEST_F(CliEndToEnd, AMissingInputExitsOneWithItsMessage)
{
    writeInputs(100, 100);
    const CliRun noCarrier
        = runCli({ pathOf("absent.wav"), modulatorPath(), outputPath() }, folder);
    EXPECT_EQ(noCarrier.end.exitStatus, 1);
    EXPECT_EQ(noCarrier.standardError,
        "lumivox-cli: " + pathOf("absent.wav")
            + ": The carrier wave file could not be opened.\nlumivox-cli: No such file or "
              "directory\n");

    const CliRun noModulator
        = runCli({ carrierPath(), pathOf("absent.wav"), outputPath() }, folder);
    EXPECT_EQ(noModulator.end.exitStatus, 1);
    EXPECT_EQ(noModulator.standardError,
        "lumivox-cli: " + pathOf("absent.wav")
            + ": The modulator wave file could not be opened.\nlumivox-cli: No such file or "
              "directory\n");
}

TEST_F(CliEndToEnd, AnOutputThatCannotBeCreatedExitsOne)
{
    writeInputs(100, 100);
    const CliRun run
        = runCli({ carrierPath(), modulatorPath(), pathOf("no/such/dir/out.wav") }, folder);
    EXPECT_EQ(run.end.exitStatus, 1);
    EXPECT_EQ(run.standardError,
        "lumivox-cli: " + pathOf("no/such/dir/out.wav")
            + ": The output wave file could not be opened.\nlumivox-cli: No such file or "
              "directory\n");
}

TEST_F(CliEndToEnd, AnOutputNamingAnInputIsRefusedAndTheInputKept)
{
    writeInputs(3000, 3000);
    const auto carrierBefore = readFile(carrierPath());
    const std::string sameFile = (folder / "." / "carrier.wav").string();
    const CliRun run = runCli({ carrierPath(), modulatorPath(), sameFile }, folder);
    EXPECT_EQ(run.end.exitStatus, 1);
    EXPECT_EQ(run.standardError,
        "lumivox-cli: " + sameFile
            + ": The output wave file could not be opened.\nlumivox-cli: it is the carrier\n");
    EXPECT_EQ(readFile(carrierPath()), carrierBefore);
}

// A file size limit stands in for a full disk. The program ignores SIGXFSZ itself, so the write
// fails with an error instead of the signal ending the run with a half-finished file.
TEST_F(CliEndToEnd, AFailedWriteExitsOneWithTheWriteMessage)
{
    writeInputs(40000, 40000);
    rlimit previous {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const rlimit smallFiles { 20000, previous.rlim_max };
    const auto previousHandler
        = std::signal(SIGXFSZ, SIG_DFL); // the child must not inherit SIG_IGN
    setrlimit(RLIMIT_FSIZE, &smallFiles);
    const CliRun run = runCli({ carrierPath(), modulatorPath(), outputPath() }, folder);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(run.end.exitStatus, 1);
    EXPECT_EQ(run.standardError,
        "lumivox-cli: " + outputPath()
            + ": The output wave file could not be written.\nlumivox-cli: File too large\n");
    // The output is still finished: a valid wave file holding the whole samples that fitted.
    std::string problem;
    const auto output = readOutputWave(outputPath(), problem);
    ASSERT_TRUE(output.has_value()) << problem;
    EXPECT_FALSE(output->data.empty());
    EXPECT_LE(output->data.size(), 20000u - 46);
    EXPECT_EQ(output->data.size() % 2, 0u);
}

TEST_F(CliEndToEnd, AnOutputOnAFullDeviceExitsOne)
{
    writeInputs(20000, 20000);
    const CliRun run = runCli({ carrierPath(), modulatorPath(), "/dev/full" }, folder);
    EXPECT_EQ(run.end.exitStatus, 1);
    EXPECT_EQ(run.standardError,
        "lumivox-cli: /dev/full: The output wave file could not be opened.\nlumivox-cli: not a "
        "regular file\n");
}

TEST_F(CliEndToEnd, BadUsageExitsTwoWithAOneLineHint)
{
    writeInputs(100, 100);
    const std::vector<std::vector<std::string>> badCommands {
        { "--gain", "101", carrierPath(), modulatorPath(), outputPath() },
        { "--clearance", "2.5", carrierPath(), modulatorPath(), outputPath() },
        { "--vagueness", carrierPath(), modulatorPath(), outputPath() },
        { "--loud", carrierPath(), modulatorPath(), outputPath() },
        { carrierPath(), modulatorPath() },
        { carrierPath(), modulatorPath(), outputPath(), pathOf("extra.wav") },
        { "--preview", carrierPath(), modulatorPath(), outputPath() },
        {},
    };
    for (const auto& arguments : badCommands) {
        const CliRun run = runCli(arguments, folder);
        const std::string& hint = run.standardError;
        EXPECT_EQ(run.end.exitStatus, 2) << hint;
        EXPECT_TRUE(hint.starts_with("lumivox-cli: ")) << hint;
        EXPECT_TRUE(hint.ends_with(" (try --help)\n")) << hint;
        EXPECT_EQ(std::ranges::count(hint, '\n'), 1) << hint;
        EXPECT_EQ(run.standardOutput, "");
        EXPECT_FALSE(std::filesystem::exists(outputPath()));
    }
}

TEST_F(CliEndToEnd, HelpAndVersionGoToStandardOutput)
{
    const CliRun version = runCli({ "--version" }, folder);
    EXPECT_EQ(version.end.exitStatus, 0);
    EXPECT_EQ(version.standardOutput, "Lumivox 1.0.0\n"); // as the package is numbered
    EXPECT_EQ(version.standardError, "");

    const CliRun help = runCli({ "--help" }, folder);
    EXPECT_EQ(help.end.exitStatus, 0);
    EXPECT_TRUE(help.standardOutput.starts_with("Usage: lumivox-cli ")) << help.standardOutput;
    EXPECT_NE(help.standardOutput.find("--preview"), std::string::npos);
    EXPECT_EQ(help.standardError, "");
}

TEST_F(CliEndToEnd, PathsLongerThan259CharactersAreNotCut)
{
    writeInputs(2000, 2000);
    std::filesystem::path deep = folder;
    for (int level = 0; level < 4; ++level)
        deep /= std::string(90, static_cast<char>('a' + level));
    std::filesystem::create_directories(deep);
    const std::string longOutput = (deep / "vocoded output.wav").string();
    ASSERT_GT(longOutput.size(), 300u);
    const CliRun run = runCli({ carrierPath(), modulatorPath(), longOutput }, folder);
    EXPECT_EQ(run.end.exitStatus, 0) << run.standardError;
    std::string problem;
    const auto output = readOutputWave(longOutput, problem);
    ASSERT_TRUE(output.has_value()) << problem;
    EXPECT_EQ(output->data.size(), 4000u);
}

// An ALSA configuration path that does not exist makes the audio library's start abort the
// process, so a file run that succeeds under it has not started the audio library.
TEST_F(CliEndToEnd, AFileRunTouchesNoAudioDevice)
{
    writeInputs(4000, 4000);
    const std::vector<std::string> brokenAudio { "ALSA_CONFIG_PATH="
        + pathOf("no-such-alsa.conf") };
    const CliRun fileRun
        = runCli({ "--quiet", carrierPath(), modulatorPath(), outputPath() }, folder, brokenAudio);
    EXPECT_EQ(fileRun.end.exitStatus, 0);
    EXPECT_EQ(fileRun.standardError, "");
    std::string problem;
    EXPECT_TRUE(readOutputWave(outputPath(), problem).has_value()) << problem;

    // The same setting does break a preview, which shows that the check above can fail.
    rlimit previous {};
    getrlimit(RLIMIT_CORE, &previous);
    const rlimit noCoreFiles { 0, previous.rlim_max };
    setrlimit(RLIMIT_CORE, &noCoreFiles);
    const CliRun previewRun
        = runCli({ "--preview", carrierPath(), modulatorPath() }, folder, brokenAudio);
    setrlimit(RLIMIT_CORE, &previous);
    EXPECT_NE(previewRun.end.exitStatus, 0);
}
