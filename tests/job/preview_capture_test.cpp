// Plays previews on an ALSA default device that writes every frame it is given to a file.
#include "audio_library.h"
#include "job_test_files.h"
#include "preview_stream.h"
#include "recording_port.h"
#include "vocoding_job.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace lumivox::job::test {
namespace {

    class PreviewCapture : public ::testing::Test {
    protected:
        static void SetUpTestSuite()
        {
            folder = std::make_unique<TemporaryFolder>();
            const auto config = *folder / "asound.conf";
            const std::string text = "pcm.!default {\n"
                                     "    type file\n"
                                     "    slave { pcm { type null } }\n"
                                     "    file \""
                + capturePath().string()
                + "\"\n"
                  "    format \"raw\"\n"
                  "}\n";
            writeFile(config, std::vector<std::uint8_t>(text.begin(), text.end()));
            setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
            setenv("JACK_NO_START_SERVER", "1", 1);
            startAudioLibrary();
        }
        static void TearDownTestSuite()
        {
            endAudioLibrary();
            folder.reset();
        }
        static std::filesystem::path capturePath() { return *folder / "captured.raw"; }

        PreviewCapture()
        {
            settings.carrierPath = (*folder / "carrier.wav").string();
            settings.modulatorPath = (*folder / "modulator.wav").string();
            settings.outputPath = (*folder / "output.wav").string();
        }

        // Vocodes to a file, then previews the same inputs through PortAudio; expects the device
        // to have received exactly the file's samples and then nothing but silence.
        void expectPreviewPlaysTheFile(std::uint8_t silentByte)
        {
            RecordingPort vocodePort;
            ASSERT_EQ(runVocodingJob(inMode(settings, JobMode::Vocode), state, vocodePort),
                JobOutcome::Finished);
            const auto written = readOutputWave(settings.outputPath);
            ASSERT_TRUE(written.has_value());

            PortAudioPreview preview;
            JobEnvironment environment;
            environment.previewSink = &preview;
            RecordingPort previewPort;
            ASSERT_EQ(
                runVocodingJob(inMode(settings, JobMode::Preview), state, previewPort, environment),
                JobOutcome::Finished);
            EXPECT_EQ(previewPort.eventsStartingWith("error").size(), 0u);

            const auto captured = readFile(capturePath());
            ASSERT_GE(captured.size(), written->data.size());
            EXPECT_TRUE(std::equal(written->data.begin(), written->data.end(), captured.begin()));
            EXPECT_TRUE(
                std::all_of(captured.begin() + static_cast<std::ptrdiff_t>(written->data.size()),
                    captured.end(), [silentByte](std::uint8_t b) { return b == silentByte; }));
            const std::size_t bytesPerFrame = silentByte == 0 ? 2 : 1;
            EXPECT_GT(preview.lastPadFrameCount(), 0u);
            EXPECT_LE(captured.size() - written->data.size(),
                preview.lastPadFrameCount() * bytesPerFrame);
        }

        static std::unique_ptr<TemporaryFolder> folder;
        JobSettings settings;
        JobState state;
    };

    std::unique_ptr<TemporaryFolder> PreviewCapture::folder;

} // namespace

TEST_F(PreviewCapture, SixteenBitPreviewPlaysExactlyTheVocodedSamples)
{
    writeFile(settings.carrierPath, waveFileBytes({}, int16Bytes(testSignal16(11000, 1))));
    writeFile(settings.modulatorPath, waveFileBytes({}, int16Bytes(testSignal16(9000, 2))));
    expectPreviewPlaysTheFile(0);
}

TEST_F(PreviewCapture, EightBitStereoPreviewPlaysExactlyTheVocodedSamples)
{
    std::vector<std::uint8_t> stereo;
    for (const std::uint8_t sample : testSignal8(9000, 1)) {
        stereo.push_back(sample);
        stereo.push_back(static_cast<std::uint8_t>(255 - sample));
    }
    writeFile(settings.carrierPath, waveFileBytes({ 1, 2, 22050, 8 }, stereo));
    writeFile(settings.modulatorPath, waveFileBytes({ 1, 1, 22050, 8 }, testSignal8(10000, 2)));
    expectPreviewPlaysTheFile(127);
}

} // namespace lumivox::job::test
