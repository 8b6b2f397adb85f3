#include "engine/vocoder_engine.h"
#include "job_fixture.h"
#include "job_messages.h"

namespace lumivox::job::test {
namespace {

    class RunReportTest : public JobTest { };

    // How many results a separately driven engine would have had clamped at this gain.
    std::uint64_t clampedResults(const std::vector<std::int16_t>& carrier,
        const std::vector<std::int16_t>& modulator, int gainPosition)
    {
        engine::VocoderEngine engine;
        engine.setOutputGain(gainPosition / 50.0);
        std::uint64_t count = 0;
        for (std::size_t i = 0; i < std::min(carrier.size(), modulator.size()); ++i) {
            const double y = engine.processSample(carrier[i], modulator[i] / 32767.0);
            count += (y > 32767.0 || y < -32767.0) ? 1 : 0;
        }
        return count;
    }

} // namespace

TEST_F(RunReportTest, AFinishedRunReportsItsLengthAndTheSamplesItClipped)
{
    // A carrier this loud must clip at full gain; silence it (gain 0) and nothing may clip.
    std::vector<std::int16_t> carrier(9000);
    std::vector<std::int16_t> modulator(7000);
    for (std::size_t i = 0; i < carrier.size(); ++i)
        carrier[i] = (i / 40) % 2 ? 32000 : -32000;
    for (std::size_t i = 0; i < modulator.size(); ++i)
        modulator[i] = (i / 25) % 2 ? 32000 : -32000;
    writeCarrier({}, int16Bytes(carrier));
    writeModulator({}, int16Bytes(modulator));

    for (const int gain : { 100, 0 }) {
        SCOPED_TRACE(gain);
        port.reports.clear();
        settings.sound.gain = gain;
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
        ASSERT_EQ(port.reports.size(), 1u);
        const RunReport& report = port.reports.front();
        EXPECT_EQ(report.mode, JobMode::Vocode);
        EXPECT_EQ(report.outcome, JobOutcome::Finished);
        EXPECT_DOUBLE_EQ(report.secondsDone, 7000 / 44100.0);
        EXPECT_DOUBLE_EQ(report.secondsTotal, 7000 / 44100.0);
        EXPECT_EQ(report.clippedSamples, clampedResults(carrier, modulator, gain));
        EXPECT_EQ(report.failure, "");
    }
    EXPECT_GT(clampedResults(carrier, modulator, 100), 0u);
    EXPECT_EQ(clampedResults(carrier, modulator, 0), 0u);
}

TEST_F(RunReportTest, AStoppedRunReportsWhatWasKeptOfTheWhole)
{
    writeMono16(30000, 30000);
    port.onProgress = [&](int percent) {
        if (percent > 0 && percent < 100)
            state.stopRequested = true;
    };
    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Stopped);
    ASSERT_EQ(port.reports.size(), 1u);
    EXPECT_EQ(port.reports.front().outcome, JobOutcome::Stopped);
    EXPECT_DOUBLE_EQ(port.reports.front().secondsDone, 2048 / 44100.0); // one block was written
    EXPECT_DOUBLE_EQ(port.reports.front().secondsTotal, 30000 / 44100.0);
}

TEST_F(RunReportTest, ARefusedRunReportsItsMessage)
{
    writeModulator({}, int16Bytes(testSignal16(100, 2))); // no carrier file
    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Failed);
    ASSERT_EQ(port.reports.size(), 1u);
    EXPECT_EQ(port.reports.front().failure, message::carrierNotOpened);
    EXPECT_EQ(port.reports.front().secondsDone, 0.0);
}

} // namespace lumivox::job::test
