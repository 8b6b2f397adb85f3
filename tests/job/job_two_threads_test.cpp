// A Vocode that goes on two threads must write the same file and tell the front end the same
// events as one on one thread, and a read that fails on the reading thread must be told as on one.
// Also run under ThreadSanitizer (label tsan).
#include "job_fixture.h"
#include "job_messages.h"
#include "mono_input.h"
#include "second_core.h"
#include "vocode_pipeline.h"
#include "wave/wave_file.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <ostream>
#include <string>

namespace lumivox::job::test {
namespace {

    // Every segment one way, as long as the run.
    class SteadyPlan final : public SegmentPlan {
    public:
        explicit SteadyPlan(bool two)
            : twoThreads(two)
        {
        }
        Segment next() override { return { twoThreads, 5 }; }
        void record(const Segment&, std::uint64_t, std::chrono::steady_clock::duration) override { }
        void noSecondThread() override { }

    private:
        bool twoThreads;
    };

    struct JobCase {
        const char* name;
        SoundSettings sound;
        WaveShape shape;
    };

    void PrintTo(const JobCase& jobCase, std::ostream* out) { *out << jobCase.name; }

    const JobCase jobCases[] = {
        { "Default16Bit", { 0, 0, 50 }, {} },
        { "Vagueness50Clearance30", { 30, 50, 50 }, {} },
        { "Vagueness100Gain80", { 0, 100, 80 }, {} },
        { "Default8BitStereo", { 0, 0, 50 }, { 1, 2, 22050, 8 } },
    };

    class JobOnTwoThreads : public JobTest, public ::testing::WithParamInterface<JobCase> {
    protected:
        void useThreads(bool two)
        {
            environment.makeThreadPlan = [two](bool) -> std::unique_ptr<SegmentPlan> {
                return std::make_unique<SteadyPlan>(two);
            };
        }
        void writeInputs(const WaveShape& shape)
        {
            const std::size_t samples = 3 * shape.sampleRate * shape.channels;
            if (shape.bitsPerSample == 8) {
                std::vector<std::uint8_t> carrier(samples);
                std::vector<std::uint8_t> modulator(samples);
                const auto wide = testSignal16(2 * samples, 5);
                for (std::size_t i = 0; i < samples; ++i) {
                    carrier[i] = static_cast<std::uint8_t>((wide[2 * i] >> 8) + 128);
                    modulator[i] = static_cast<std::uint8_t>((wide[2 * i + 1] >> 8) + 128);
                }
                writeCarrier(shape, carrier);
                writeModulator(shape, modulator);
            } else {
                writeCarrier(shape, int16Bytes(testSignal16(samples, 1)));
                writeModulator(shape, int16Bytes(testSignal16(samples - 777, 2)));
            }
        }
    };

} // namespace

TEST_P(JobOnTwoThreads, WritesTheSameFileAndTellsTheSameEventsAsOneThread)
{
    if (usableCoreCount() < 2)
        GTEST_SKIP() << "one core only";
    settings.sound = GetParam().sound;
    writeInputs(GetParam().shape);

    useThreads(false);
    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    const auto oneThread = readOutputWave(settings.outputPath);
    const auto oneThreadEvents = port.allEvents();
    ASSERT_TRUE(oneThread.has_value());
    ASSERT_GT(oneThread->data.size(), 2u * GetParam().shape.sampleRate);

    RecordingPort twoThreadPort;
    useThreads(true);
    ASSERT_EQ(runVocodingJob(inMode(settings, JobMode::Vocode), state, twoThreadPort, environment),
        JobOutcome::Finished);
    const auto twoThreads = readOutputWave(settings.outputPath);
    ASSERT_TRUE(twoThreads.has_value());
    EXPECT_TRUE(oneThread->data == twoThreads->data);
    EXPECT_EQ(twoThreadPort.allEvents(), oneThreadEvents);
    ASSERT_EQ(twoThreadPort.reports.size(), 1u);
    EXPECT_EQ(twoThreadPort.reports[0].clippedSamples, port.reports[0].clippedSamples);
    EXPECT_TRUE(allFlagsClear());
}

INSTANTIATE_TEST_SUITE_P(Settings, JobOnTwoThreads, ::testing::ValuesIn(jobCases),
    [](const auto& param) { return std::string(param.param.name); });

struct TwoThreadReadFault {
    const char* name;
    InputRole failing;
    std::string_view message;
};

void PrintTo(const TwoThreadReadFault& fault, std::ostream* out) { *out << fault.name; }

class JobReadFailureOnTwoThreads : public JobTest,
                                   public ::testing::WithParamInterface<TwoThreadReadFault> { };

// errno belongs to the thread that read: the cause must come from there.
TEST_P(JobReadFailureOnTwoThreads, NamesTheInputAndTheCauseTheReadingThreadSaw)
{
    if (usableCoreCount() < 2)
        GTEST_SKIP() << "one core only";
    const TwoThreadReadFault& fault = GetParam();
    writeMono16(3 * 44100, 3 * 44100);
    const auto complete = completeOutput();
    ASSERT_TRUE(complete.has_value());
    environment.makeThreadPlan
        = [](bool) -> std::unique_ptr<SegmentPlan> { return std::make_unique<SteadyPlan>(true); };
    constexpr std::size_t bytesBeforeFailure = 23 * monoBlockBytes;
    std::size_t delivered = 0;
    environment.readInput
        = [&](InputRole role, wave::WaveReader& reader, void* buffer, std::size_t byteCount) {
              if (role != fault.failing)
                  return wave::readWave(reader, buffer, byteCount);
              if (delivered >= bytesBeforeFailure) {
                  errno = EIO;
                  return std::int64_t { -1 };
              }
              const std::int64_t count = wave::readWave(reader, buffer, byteCount);
              delivered += static_cast<std::size_t>(std::max<std::int64_t>(count, 0));
              return count;
          };
    errno = 0;
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Failed);

    ASSERT_EQ(port.reports.size(), 1u);
    EXPECT_EQ(port.reports[0].failure, fault.message);
    const std::string& failingPath
        = fault.failing == InputRole::Carrier ? settings.carrierPath : settings.modulatorPath;
    EXPECT_EQ(port.reports[0].failureDetail, failingPath + ": Input/output error");
    const auto output = readOutputWave(settings.outputPath);
    ASSERT_TRUE(output.has_value());
    ASSERT_EQ(output->data.size(), bytesBeforeFailure);
    EXPECT_TRUE(std::equal(output->data.begin(), output->data.end(), complete->data.begin()));
    EXPECT_TRUE(allFlagsClear());
}

INSTANTIATE_TEST_SUITE_P(Inputs, JobReadFailureOnTwoThreads,
    ::testing::Values(
        TwoThreadReadFault { "Modulator", InputRole::Modulator, message::modulatorNotRead },
        TwoThreadReadFault { "Carrier", InputRole::Carrier, message::carrierNotRead }),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace lumivox::job::test
