#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

using namespace lumivox::cli::test;

namespace {

class CliPreview : public ScratchFolderTest {
protected:
    // An ALSA configuration whose default device writes what is played to a file.
    std::vector<std::string> capturingDevice(const std::string& capturePath)
    {
        const std::string configPath = pathOf("capture-alsa.conf");
        std::ofstream config(configPath);
        config << "pcm.!default {\n"
                  "    type file\n"
                  "    slave { pcm { type null } }\n"
                  "    file \""
               << capturePath
               << "\"\n"
                  "    format \"raw\"\n"
                  "}\n";
        return { "ALSA_CONFIG_PATH=" + configPath };
    }
};

} // namespace

TEST_F(CliPreview, PlaysExactlyTheSamplesAFileRunWrites)
{
    const WaveShape shape {};
    const std::string carrier = pathOf("carrier.wav");
    const std::string modulator = pathOf("modulator.wav");
    writeWaveFile(carrier, shape, carrierSamples(7001, 1, 16));
    writeWaveFile(modulator, shape, modulatorSamples(9000, 1, 16));

    const std::string output = pathOf("output.wav");
    const CliRun fileRun = runCli({ "--gain", "70", carrier, modulator, output }, folder);
    ASSERT_EQ(fileRun.end.exitStatus, 0) << fileRun.standardError;
    std::string problem;
    const auto written = readOutputWave(output, problem);
    ASSERT_TRUE(written.has_value()) << problem;
    ASSERT_EQ(written->data.size(), 7001u * 2);

    const std::string capture = pathOf("captured.raw");
    const CliRun previewRun = runCli(
        { "--preview", "--gain", "70", carrier, modulator }, folder, capturingDevice(capture));
    EXPECT_EQ(previewRun.end.exitStatus, 0);
    EXPECT_EQ(previewRun.standardError,
        "lumivox-cli: the carrier ended first; 0.05 s of the modulator was left out\n"
        "lumivox-cli: --repeat-carrier plays the carrier again from its start to the "
        "modulator's length\n");

    const std::vector<std::uint8_t> played = readFile(capture);
    ASSERT_GE(played.size(), written->data.size());
    EXPECT_TRUE(std::equal(written->data.begin(), written->data.end(), played.begin()));
    // Anything after the result is the silence that lets the device play to the end.
    const auto pad = played.begin() + static_cast<std::ptrdiff_t>(written->data.size());
    EXPECT_TRUE(std::all_of(pad, played.end(), [](std::uint8_t byte) { return byte == 0; }));
}

// A default device on a sound card that does not exist: the audio library finds no default
// output device, whatever the machine has.
TEST_F(CliPreview, WithoutAnOutputDeviceExitsOneWithTheJobsMessage)
{
    const std::string carrier = pathOf("carrier.wav");
    const std::string modulator = pathOf("modulator.wav");
    writeWaveFile(carrier, {}, carrierSamples(3000, 1, 16));
    writeWaveFile(modulator, {}, modulatorSamples(3000, 1, 16));
    const std::string configPath = pathOf("no-card-alsa.conf");
    std::ofstream(configPath) << "pcm.!default {\n    type hw\n    card 99\n}\n";

    const CliRun run
        = runCli({ "--preview", carrier, modulator }, folder, { "ALSA_CONFIG_PATH=" + configPath });
    EXPECT_EQ(run.end.exitStatus, 1);
    EXPECT_EQ(run.standardError,
        "lumivox-cli: No default output audio device was found on your system.\n");
}
