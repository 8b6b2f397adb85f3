#include "job_fixture.h"

#include <filesystem>

namespace lumivox::job::test {
namespace {

    class JobChecks : public JobTest {
    protected:
        // Fails the nth buffer request (1-based) and counts them all.
        void failBufferNumber(int failing)
        {
            environment.takeBuffer = [this, failing](std::size_t byteCount) {
                bufferSizes.push_back(byteCount);
                if (static_cast<int>(bufferSizes.size()) == failing)
                    return std::unique_ptr<std::uint8_t[]>();
                return std::make_unique<std::uint8_t[]>(byteCount);
            };
        }

        // The job refused with exactly this message and touched nothing else.
        void expectRefusedWith(JobMode mode, const std::string& message)
        {
            EXPECT_EQ(run(mode), JobOutcome::Failed);
            EXPECT_EQ(port.allEvents(), std::vector<std::string> { "error " + message });
            EXPECT_TRUE(allFlagsClear());
            EXPECT_FALSE(state.closeRequested);
        }

        std::vector<std::size_t> bufferSizes;
    };

    const WaveShape mono16 {};
    const WaveShape stereo16 { 1, 2, 44100, 16 };

} // namespace

TEST_F(JobChecks, TakesThreeBlocksThenTheInterleavedBuffersInOrder)
{
    writeCarrier(stereo16, int16Bytes(testSignal16(200, 1)));
    writeModulator(stereo16, int16Bytes(testSignal16(200, 2)));
    failBufferNumber(0);
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    EXPECT_EQ(bufferSizes, (std::vector<std::size_t> { 8192, 8192, 8192, 16384, 16384 }));
}

TEST_F(JobChecks, RefusesWhenTheCarrierBlockCannotBeTaken)
{
    writeMono16(100, 100);
    failBufferNumber(1);
    expectRefusedWith(
        JobMode::Vocode, "The memory needed for the carrier buffer could not be allocated.");
}

TEST_F(JobChecks, RefusesWhenTheModulatorBlockCannotBeTaken)
{
    writeMono16(100, 100);
    failBufferNumber(2);
    expectRefusedWith(
        JobMode::Vocode, "The memory needed for the modulator buffer could not be allocated.");
}

TEST_F(JobChecks, RefusesWhenTheOutputBlockCannotBeTaken)
{
    writeMono16(100, 100);
    failBufferNumber(3);
    expectRefusedWith(
        JobMode::Preview, "The memory needed for the output buffer could not be allocated.");
}

TEST_F(JobChecks, RefusesAMissingCarrier)
{
    writeModulator(mono16, int16Bytes(testSignal16(100, 2)));
    expectRefusedWith(JobMode::Vocode, "The carrier wave file could not be opened.");
    EXPECT_FALSE(std::filesystem::exists(settings.outputPath));
}

TEST_F(JobChecks, RefusesACarrierThatIsNoWaveFile)
{
    writeFile(settings.carrierPath, { 'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e' });
    writeModulator(mono16, int16Bytes(testSignal16(100, 2)));
    expectRefusedWith(JobMode::Preview, "The carrier wave file could not be opened.");
    EXPECT_TRUE(sink.calls.empty());
}

TEST_F(JobChecks, RefusesAMissingModulator)
{
    writeCarrier(mono16, int16Bytes(testSignal16(100, 1)));
    expectRefusedWith(JobMode::Vocode, "The modulator wave file could not be opened.");
}

TEST_F(JobChecks, RefusesWhenTheCarrierInterleavedBufferCannotBeTaken)
{
    writeCarrier(stereo16, int16Bytes(testSignal16(200, 1)));
    writeModulator(stereo16, int16Bytes(testSignal16(200, 2)));
    failBufferNumber(4);
    expectRefusedWith(
        JobMode::Vocode, "The memory needed for the carrier buffer could not be allocated.");
}

TEST_F(JobChecks, RefusesWhenTheModulatorInterleavedBufferCannotBeTaken)
{
    writeCarrier(mono16, int16Bytes(testSignal16(100, 1)));
    writeModulator(stereo16, int16Bytes(testSignal16(200, 2)));
    failBufferNumber(4);
    expectRefusedWith(
        JobMode::Vocode, "The memory needed for the modulator buffer could not be allocated.");
}

TEST_F(JobChecks, RefusesAnOutputThatCannotBeCreated)
{
    writeMono16(100, 100);
    settings.outputPath = (folder / "no such folder" / "output.wav").string();
    expectRefusedWith(JobMode::Vocode, "The output wave file could not be opened.");
}

TEST_F(JobChecks, PreviewRefusesWithoutADefaultDevice)
{
    writeMono16(100, 100);
    sink.openResult = PreviewOpenResult::NoDevice;
    expectRefusedWith(JobMode::Preview, "No default output audio device was found on your system.");
}

TEST_F(JobChecks, PreviewRefusesWithoutDeviceInformation)
{
    writeMono16(100, 100);
    sink.openResult = PreviewOpenResult::NoDeviceInfo;
    expectRefusedWith(JobMode::Preview,
        "Information about your default output audio device could not be retrieved.");
}

TEST_F(JobChecks, PreviewRefusesAStreamThatDoesNotOpen)
{
    writeMono16(100, 100);
    sink.openResult = PreviewOpenResult::StreamNotOpened;
    expectRefusedWith(JobMode::Preview, "Unable to open the preview audio output stream.");
}

TEST_F(JobChecks, PreviewRefusesAStreamThatDoesNotStartAndClosesIt)
{
    writeMono16(100, 100);
    sink.startSucceeds = false;
    expectRefusedWith(JobMode::Preview, "Unable to open the preview audio output stream.");
    EXPECT_EQ(sink.calls, (std::vector<std::string> { "open", "start", "close" }));
}

TEST_F(JobChecks, AFailedJobLetsTheNextOneStartAtOnce)
{
    writeMono16(100, 100);
    sink.openResult = PreviewOpenResult::NoDevice;
    EXPECT_EQ(run(JobMode::Preview), JobOutcome::Failed);
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    ASSERT_TRUE(readOutputWave(settings.outputPath).has_value());
    EXPECT_EQ(readOutputWave(settings.outputPath)->data.size(), 200u);
}

} // namespace lumivox::job::test
