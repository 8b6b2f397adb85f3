// Plays previews in real time on JACK's dummy driver (through ALSA's jack plugin), started and
// stopped by the test under a server name of its own.
#include "audio_library.h"
#include "jack_server_name.h"
#include "job_test_files.h"
#include "preview_stream.h"
#include "recording_port.h"
#include "vocoding_job.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lumivox::job::test {
namespace {

    // Starts a program with its output thrown away; -1 when it could not be started.
    pid_t spawnQuietly(std::vector<std::string> arguments)
    {
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    int waitForExit(pid_t pid)
    {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }

    // Passes everything to the real stream, counting the blocks and raising Stop after a few.
    class CountingSink : public PreviewSink {
    public:
        CountingSink(JobState& jobState, int stopAfter)
            : state(jobState)
            , stopAfterBlocks(stopAfter)
        {
        }
        PreviewOpenResult open(const PreviewFormat& format) override { return stream.open(format); }
        bool start() override { return stream.start(); }
        void writeBlock(const void* samples, unsigned long frameCount) override
        {
            if (state.stopRequested)
                ++blocksAfterStop;
            stream.writeBlock(samples, frameCount);
            latencySeconds = stream.outputLatencySeconds();
            ++blocksWritten;
            if (blocksWritten == stopAfterBlocks)
                state.stopRequested = true;
        }
        void finish(bool abort) override
        {
            finishedByAbort = abort;
            stream.finish(abort);
        }
        void abort() override { stream.abort(); }
        void close() override { stream.close(); }
        double outputLatencySeconds() const override { return stream.outputLatencySeconds(); }

        int blocksWritten = 0;
        int blocksAfterStop = 0;
        bool finishedByAbort = false;
        double latencySeconds = 0.0;

    private:
        PortAudioPreview stream;
        JobState& state;
        int stopAfterBlocks;
    };

    class PacedPreview : public ::testing::Test {
    protected:
        static void SetUpTestSuite()
        {
            folder = std::make_unique<TemporaryFolder>();
            serverName = std::make_unique<lumivox::test::JackServerName>();
            const std::string server = serverName->name();
            setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
            setenv("JACK_NO_START_SERVER", "1", 1);
            // Two servers starting at the same moment (another test process of this suite, or
            // another suite's) can meet in JACK's shared registry and one gives up: start again.
            for (int attempt = 0; attempt < 3 && !serverReady; ++attempt) {
                if (jackServer > 0) {
                    kill(jackServer, SIGTERM);
                    static_cast<void>(waitForExit(jackServer));
                    usleep(static_cast<useconds_t>(200000 + 300000 * attempt));
                }
                jackServer = spawnQuietly({ "jackd", "--no-realtime", "-n", server, "-d", "dummy",
                    "-r", "44100", "-p", "1024" });
                if (jackServer > 0)
                    serverReady
                        = waitForExit(spawnQuietly({ "jack_wait", "-w", "-t", "5", "-s", server }))
                        == 0;
            }

            const auto config = *folder / "asound.conf";
            const std::string text
                = "pcm.!default {\n"
                  "    type plug\n"
                  "    slave.pcm { type jack  playback_ports { 0 system:playback_1 } }\n"
                  "}\n";
            writeFile(config, std::vector<std::uint8_t>(text.begin(), text.end()));
            setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
            startAudioLibrary();
        }
        static void TearDownTestSuite()
        {
            endAudioLibrary();
            if (jackServer > 0) {
                kill(jackServer, SIGTERM);
                static_cast<void>(waitForExit(jackServer));
            }
            serverName.reset();
            folder.reset();
        }

        PacedPreview()
        {
            settings.carrierPath = (*folder / "carrier.wav").string();
            settings.modulatorPath = (*folder / "modulator.wav").string();
        }

        void writeInputs(std::size_t sampleCount)
        {
            writeFile(
                settings.carrierPath, waveFileBytes({}, int16Bytes(testSignal16(sampleCount, 1))));
            writeFile(settings.modulatorPath,
                waveFileBytes({}, int16Bytes(testSignal16(sampleCount, 2))));
        }

        static std::unique_ptr<TemporaryFolder> folder;
        static std::unique_ptr<lumivox::test::JackServerName> serverName;
        static pid_t jackServer;
        static bool serverReady;
        JobSettings settings;
        JobState state;
        RecordingPort port;
    };

    std::unique_ptr<TemporaryFolder> PacedPreview::folder;
    std::unique_ptr<lumivox::test::JackServerName> PacedPreview::serverName;
    pid_t PacedPreview::jackServer = -1;
    bool PacedPreview::serverReady = false;

} // namespace

TEST_F(PacedPreview, PlaysAtPlaybackSpeed)
{
    ASSERT_TRUE(serverReady);
    writeInputs(66150); // 1.5 s at 44100 Hz
    CountingSink sink(state, -1);
    JobEnvironment environment;
    environment.previewSink = &sink;

    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(runVocodingJob(inMode(settings, JobMode::Preview), state, port, environment),
        JobOutcome::Finished);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;

    EXPECT_TRUE(port.eventsStartingWith("error").empty());
    EXPECT_EQ(sink.blocksWritten, 33);
    EXPECT_FALSE(sink.finishedByAbort);
    // A device that is not paced takes milliseconds for this; the output buffer holds well under
    // half a second, so real-time playback cannot end sooner than this.
    EXPECT_GE(elapsed.count(), 1.0);
    // The band levels wait for the device's latency, and the play-out at the end outlasts it.
    EXPECT_GT(sink.latencySeconds, 0.0);
    EXPECT_LT(sink.latencySeconds, 1.0);
    const auto heard = state.bandLevels.newestAudible(std::chrono::steady_clock::now(), 0);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->number, 33u);
}

TEST_F(PacedPreview, StopEndsThePreviewWithinABlock)
{
    ASSERT_TRUE(serverReady);
    writeInputs(441000); // 10 s
    CountingSink sink(state, 8);
    JobEnvironment environment;
    environment.previewSink = &sink;

    EXPECT_EQ(runVocodingJob(inMode(settings, JobMode::Preview), state, port, environment),
        JobOutcome::Stopped);
    EXPECT_EQ(sink.blocksWritten, 8);
    EXPECT_EQ(sink.blocksAfterStop, 0);
    EXPECT_TRUE(sink.finishedByAbort);
    EXPECT_EQ(port.eventsStartingWith("progress").back(), "progress 100");
    EXPECT_FALSE(state.previewRunning);
    EXPECT_FALSE(state.stopRequested);
}

} // namespace lumivox::job::test
