#include "job_test_files.h"
#include "job_thread.h"
#include "recording_port.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <thread>

namespace lumivox::job::test {
namespace {

    // A front end whose error box stays open until the test lets it close.
    class HeldErrorPort : public RecordingPort {
    public:
        void showFailure(std::string_view message, const FailureDetail& detail) override
        {
            RecordingPort::showFailure(message, detail);
            std::unique_lock lock(gate);
            shown = true;
            changed.notify_all();
            changed.wait(lock, [this] { return released; });
        }
        void waitUntilShown()
        {
            std::unique_lock lock(gate);
            changed.wait(lock, [this] { return shown; });
        }
        void release()
        {
            std::lock_guard lock(gate);
            released = true;
            changed.notify_all();
        }

    private:
        std::mutex gate;
        std::condition_variable changed;
        bool shown = false;
        bool released = false;
    };

    void waitUntilIdle(const JobState& state)
    {
        while (state.jobActive)
            std::this_thread::yield();
    }

} // namespace

TEST(JobThread, RefusesASecondStartWhileTheFirstIsBeingSetUp)
{
    TemporaryFolder folder;
    JobSettings settings;
    JobState state;
    settings.carrierPath = (folder / "missing.wav").string();
    settings.modulatorPath = (folder / "missing too.wav").string();
    settings.outputPath = (folder / "output.wav").string();
    HeldErrorPort port;
    JobThread thread(state, port);

    ASSERT_EQ(thread.tryStart(inMode(settings, JobMode::Vocode)), JobThread::StartResult::Started);
    port.waitUntilShown(); // the first job is still in its set-up, jobBusy not yet raised
    EXPECT_FALSE(state.jobBusy);
    EXPECT_EQ(
        thread.tryStart(inMode(settings, JobMode::Preview)), JobThread::StartResult::AlreadyActive);
    port.release();
    waitUntilIdle(state);

    EXPECT_EQ(port.allEvents(),
        std::vector<std::string> { "error The carrier wave file could not be opened." });
}

TEST(JobThread, StartsAgainOnceTheJobHasReturned)
{
    TemporaryFolder folder;
    JobSettings settings;
    JobState state;
    settings.carrierPath = (folder / "carrier.wav").string();
    settings.modulatorPath = (folder / "modulator.wav").string();
    settings.outputPath = (folder / "output.wav").string();
    writeFile(settings.carrierPath, waveFileBytes({}, int16Bytes(testSignal16(3000, 1))));
    writeFile(settings.modulatorPath, waveFileBytes({}, int16Bytes(testSignal16(3000, 2))));
    RecordingPort port;
    {
        JobThread thread(state, port);
        ASSERT_EQ(
            thread.tryStart(inMode(settings, JobMode::Vocode)), JobThread::StartResult::Started);
        waitUntilIdle(state);
        ASSERT_EQ(
            thread.tryStart(inMode(settings, JobMode::Vocode)), JobThread::StartResult::Started);
        waitUntilIdle(state);
    }
    EXPECT_EQ(port.eventsStartingWith("released Vocode").size(), 2u);
    EXPECT_EQ(readOutputWave(settings.outputPath)->data.size(), 6000u);
}

} // namespace lumivox::job::test
