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
            state.carrierPath = (folder / "carrier.wav").string();
            state.modulatorPath = (folder / "modulator.wav").string();
            state.outputPath = (folder / "output.wav").string();
            writeFile(state.carrierPath, waveFileBytes({}, int16Bytes(testSignal16(5000, 1))));
            writeFile(state.modulatorPath, waveFileBytes({}, int16Bytes(testSignal16(5000, 2))));
        }

        TemporaryFolder folder;
        JobState state;
        RecordingPort port;
    };

} // namespace

TEST_F(PreviewWithoutDevice, FailsWithTheNoDeviceMessage)
{
    EXPECT_EQ(runVocodingJob(JobMode::Preview, state, port), JobOutcome::Failed);
    EXPECT_EQ(port.allEvents(),
        std::vector<std::string> {
            "error No default output audio device was found on your system." });
    EXPECT_FALSE(state.jobBusy);
}

TEST_F(PreviewWithoutDevice, LeavesVocodeWorking)
{
    EXPECT_EQ(runVocodingJob(JobMode::Preview, state, port), JobOutcome::Failed);
    EXPECT_EQ(runVocodingJob(JobMode::Vocode, state, port), JobOutcome::Finished);
    const auto output = readOutputWave(state.outputPath);
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output->data.size(), 10000u);
}

} // namespace lumivox::job::test
