// The plugin as the LV2 tools see it: lv2info lists its ports, and lv2apply gives the program's
// sound, sample for sample, on the recordings lumivox-cli vocodes.

#include "child_process.h"
#include "plugin_host.h"
#include "scratch_folder.h"
#include "sndfile_io.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sstream>
#include <string>
#include <vector>

namespace lumivox::plugin::test {
namespace {

    using cli::test::ProgramRun;
    using cli::test::runProgram;

    // The built bundle first; Debian's LV2 folder after it, for the names of the classes.
    const std::string lv2Path = "LV2_PATH="
        + std::filesystem::path(bundleDirectory).parent_path().string() + ":/usr/lib/lv2";

    // The part of lv2info's text about one port, up to the next port.
    std::string portSection(const std::string& text, int index)
    {
        const std::string heading = "\tPort " + std::to_string(index) + ":\n";
        const auto start = text.find(heading);
        if (start == std::string::npos)
            return {};
        const auto end = text.find("\tPort ", start + heading.size());
        return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }

    const std::string& lv2infoText()
    {
        static const ProgramRun run = runProgram({ "lv2info", pluginUri }, { lv2Path });
        return run.output;
    }

    TEST(Lv2info, NamesThePluginAndItsClass)
    {
        const std::string& text = lv2infoText();
        EXPECT_NE(text.find("Name:              Lumivox Vocoder\n"), std::string::npos) << text;
        EXPECT_NE(text.find("Class:             Filter Plugin\n"), std::string::npos) << text;
        EXPECT_NE(text.find("Has latency:       yes, reported by port 7\n"), std::string::npos);
        EXPECT_TRUE(portSection(text, 9).empty()) << "more than nine ports";
    }

    // The bands port chooses between two layouts: 0 the classic bands (its default), 1 speech.
    TEST(Lv2info, OffersTheBandsAsTwoNamedChoices)
    {
        const std::string section = portSection(lv2infoText(), 8);
        for (const char* line : { "Minimum:     0.000000\n", "Maximum:     1.000000\n",
                 "Default:     0.000000\n", "Classic 32", "Speech" })
            EXPECT_NE(section.find(line), std::string::npos) << line << "\n" << section;
    }

    struct PortListing {
        int index;
        const char* symbol;
        const char* kind; // AudioPort or ControlPort
        const char* direction; // InputPort or OutputPort
        const char* property; // the one port property, or ""
        const char* defaultValue; // a control input's, or ""
    };

    class Lv2infoPorts : public ::testing::TestWithParam<PortListing> { };

    TEST_P(Lv2infoPorts, ListEachPortWithItsSymbolTypeAndProperties)
    {
        const PortListing& port = GetParam();
        const std::string section = portSection(lv2infoText(), port.index);
        ASSERT_FALSE(section.empty()) << lv2infoText();
        const std::string core = "http://lv2plug.in/ns/lv2core#";
        EXPECT_NE(
            section.find("Symbol:      " + std::string(port.symbol) + "\n"), std::string::npos)
            << section;
        EXPECT_NE(section.find(core + port.kind), std::string::npos) << section;
        EXPECT_NE(section.find(core + port.direction), std::string::npos) << section;
        for (const char* property : { "isSideChain", "reportsLatency" }) {
            const bool listed = section.find(core + property) != std::string::npos;
            EXPECT_EQ(listed, std::string(port.property) == property) << property << "\n"
                                                                      << section;
        }
        if (*port.defaultValue != '\0') {
            EXPECT_NE(section.find("Minimum:     0.000000\n"), std::string::npos) << section;
            EXPECT_NE(section.find("Maximum:     100.000000\n"), std::string::npos) << section;
            EXPECT_NE(section.find("Default:     " + std::string(port.defaultValue) + "\n"),
                std::string::npos)
                << section;
        }
    }

    INSTANTIATE_TEST_SUITE_P(Plugin, Lv2infoPorts,
        ::testing::Values(PortListing { 0, "carrier", "AudioPort", "InputPort", "", "" },
            PortListing { 1, "modulator", "AudioPort", "InputPort", "isSideChain", "" },
            PortListing { 2, "out", "AudioPort", "OutputPort", "", "" },
            PortListing { 3, "clearance", "ControlPort", "InputPort", "", "0.000000" },
            PortListing { 4, "vagueness", "ControlPort", "InputPort", "", "0.000000" },
            PortListing { 5, "gain", "ControlPort", "InputPort", "", "50.000000" },
            PortListing { 6, "clarity", "ControlPort", "InputPort", "", "0.000000" },
            PortListing { 7, "latency", "ControlPort", "OutputPort", "reportsLatency", "" },
            PortListing { 8, "bands", "ControlPort", "InputPort", "", "" }),
        [](const auto& row) { return std::string(row.param.symbol); });

    // What the program stores for a result in 16-bit units: clamped to +-32767, then truncated.
    int asTheProgramStores(double y)
    {
        if (y > 32767.0)
            y = 32767.0;
        if (y < -32767.0)
            y = -32767.0;
        return static_cast<int>(y);
    }

    struct SameSound {
        const char* name;
        int sampleRate;
        int clearance;
        int vagueness;
        int gain;
        int clarity;
        // lv2apply writes its output in the input's format. Given the pair as 32-bit float (the
        // values it reads from the 16-bit file), it keeps the plugin's floats, which must then
        // give the program's samples exactly; given the 16-bit pair, libsndfile stores the
        // plugin's floats times 32767, rounded, so they may differ by one.
        bool floatPair;
        int bands = 0; // the plugin's bands port; the program's --bands classic or speech
    };

    class Lv2applyAgainstTheProgram : public cli::test::ScratchFolderTest,
                                      public ::testing::WithParamInterface<SameSound> { };

    TEST_P(Lv2applyAgainstTheProgram, GivesTheProgramsSamples)
    {
        const SameSound& row = GetParam();
        const std::size_t frameCount = static_cast<std::size_t>(row.sampleRate) * 3;
        const std::vector<std::int16_t> carrier = testCarrier(frameCount, row.sampleRate);
        const std::vector<std::int16_t> modulator = testModulator(frameCount, row.sampleRate);
        // As left-justified 32-bit integers, which a 16-bit file stores exactly; as floats, each
        // sample divided by 32768, as a host reads the 16-bit files.
        std::vector<int> carrierWide, modulatorWide, pair;
        for (std::size_t i = 0; i < frameCount; ++i) {
            carrierWide.push_back(carrier[i] * 65536);
            modulatorWide.push_back(modulator[i] * 65536);
            pair.insert(pair.end(), { carrierWide.back(), modulatorWide.back() });
        }
        const int pcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        using lumivox::test::writeSoundFile;
        ASSERT_TRUE(writeSoundFile(pathOf("carrier.wav"), pcm16, 1, row.sampleRate, carrierWide));
        ASSERT_TRUE(
            writeSoundFile(pathOf("modulator.wav"), pcm16, 1, row.sampleRate, modulatorWide));
        std::vector<double> floats(pair.begin(), pair.end());
        for (double& value : floats)
            value /= 2147483648.0;
        ASSERT_TRUE(row.floatPair
                ? writeSoundFile(
                    pathOf("pair.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, row.sampleRate, floats)
                : writeSoundFile(pathOf("pair.wav"), pcm16, 2, row.sampleRate, pair));

        const ProgramRun cli = runProgram({ LUMIVOX_CLI_PATH, "--quiet", "--bands",
            row.bands == 1 ? "speech" : "classic", "--clearance", std::to_string(row.clearance),
            "--vagueness", std::to_string(row.vagueness), "--gain", std::to_string(row.gain),
            "--clarity", std::to_string(row.clarity), (folder / "carrier.wav").string(),
            (folder / "modulator.wav").string(), (folder / "program.wav").string() });
        ASSERT_EQ(cli.end.exitStatus, 0) << cli.output;
        const ProgramRun apply = runProgram(
            { "lv2apply", "-i", (folder / "pair.wav").string(), "-o",
                (folder / "plugin.wav").string(), "-c", "clearance", std::to_string(row.clearance),
                "-c", "vagueness", std::to_string(row.vagueness), "-c", "gain",
                std::to_string(row.gain), "-c", "clarity", std::to_string(row.clarity), "-c",
                "bands", std::to_string(row.bands), pluginUri },
            { lv2Path });
        ASSERT_EQ(apply.end.exitStatus, 0) << apply.output;

        const auto program = lumivox::test::readBack((folder / "program.wav").string());
        const auto plugin = lumivox::test::readBack((folder / "plugin.wav").string());
        ASSERT_TRUE(program && plugin);
        ASSERT_EQ(program->info.channels, 1);
        ASSERT_EQ(plugin->info.channels, 1);
        ASSERT_EQ(program->samples.size(), frameCount);
        ASSERT_EQ(plugin->samples.size(), frameCount);
        // A 16-bit sample n is read as n / 32768 exactly.
        const auto stored = [](double value) { return asTheProgramStores(value * 32768.0); };

        int largest = 0;
        std::size_t differing = 0;
        int loudest = 0;
        for (std::size_t i = 0; i < frameCount; ++i) {
            const int difference
                = std::abs(stored(plugin->samples[i]) - stored(program->samples[i]));
            largest = std::max(largest, difference);
            differing += difference != 0 ? 1 : 0;
            loudest = std::max(loudest, std::abs(stored(program->samples[i])));
        }
        RecordProperty("largest_difference", largest);
        RecordProperty("differing_samples", static_cast<int>(differing));
        EXPECT_GT(loudest, 1000) << "the program's output is nearly silent: nothing is compared";
        EXPECT_LE(largest, row.floatPair ? 0 : 1)
            << differing << " of " << frameCount << " samples differ";
    }

    INSTANTIATE_TEST_SUITE_P(Plugin, Lv2applyAgainstTheProgram,
        ::testing::Values(SameSound { "Defaults", 44100, 0, 0, 50, 0, true },
            SameSound { "ThreeSliders", 44100, 30, 20, 80, 0, true },
            SameSound { "ClarityAndVagueness", 44100, 0, 50, 50, 60, true },
            SameSound { "LoudEnoughToClip", 44100, 70, 0, 100, 0, true },
            SameSound { "AllFourAt48000", 48000, 25, 85, 60, 40, true },
            SameSound { "ThreeSlidersAt22050", 22050, 30, 20, 80, 0, true },
            SameSound { "SixteenBitPair", 44100, 30, 20, 80, 0, false },
            SameSound { "SpeechBands", 44100, 30, 20, 80, 40, true, 1 },
            SameSound { "SpeechBandsAt96000", 96000, 0, 0, 100, 0, true, 1 }),
        [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace lumivox::plugin::test
