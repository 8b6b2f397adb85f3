// Runs with the system's own ALSA configuration on a machine without a sound card.
#include "audio_library.h"
#include "job_test_files.h"
#include "recording_port.h"
#include "vocoding_job.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace lumivox::job::test {
namespace {

    class PreviewWithoutDevice : public ::testing::Test {
    protected:
        static void SetUpTestSuite()
        {
            unsetenv("ALSA_CONFIG_PATH");
            // A JACK server started by another test must not become this process's device.
            setenv("JACK_NO_START_SERVER", "1", 1);
            setenv(
                "JACK_DEFAULT_SERVER", ("lumivox-absent-" + std::to_string(getpid())).c_str(), 1);
            startAudioLibrary();
        }
        static void TearDownTestSuite() { endAudioLibrary(); }

        PreviewWithoutDevice()
        {
            settings.carrierPath = (folder / "carrier.wav").string();
            settings.modulatorPath = (folder / "modulator.wav").string();
            settings.outputPath = (folder / "output.wav").string();
            writeFile(settings.carrierPath, waveFileBytes({}, int16Bytes(testSignal16(5000, 1))));
            writeFile(settings.modulatorPath, waveFileBytes({}, int16Bytes(testSignal16(5000, 2))));
        }

        TemporaryFolder folder;
        JobSettings settings;
        JobState state;
        RecordingPort port;
    };

} // namespace

TEST_F(PreviewWithoutDevice, FailsWithTheNoDeviceMessage)
{
    EXPECT_EQ(runVocodingJob(inMode(settings, JobMode::Preview), state, port), JobOutcome::Failed);
    EXPECT_EQ(port.allEvents(),
        std::vector<std::string> {
            "error No default output audio device was found on your system." });
    EXPECT_FALSE(state.jobBusy);
}

TEST_F(PreviewWithoutDevice, LeavesVocodeWorking)
{
    EXPECT_EQ(runVocodingJob(inMode(settings, JobMode::Preview), state, port), JobOutcome::Failed);
    EXPECT_EQ(runVocodingJob(inMode(settings, JobMode::Vocode), state, port), JobOutcome::Finished);
    const auto output = readOutputWave(settings.outputPath);
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output->data.size(), 10000u);
}

} // namespace lumivox::job::test
