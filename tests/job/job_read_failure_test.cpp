#include "job_fixture.h"
#include "job_messages.h"
#include "mono_input.h"
#include "wave/wave_file.h"

#include <algorithm>
#include <cerrno>

namespace lumivox::job::test {
namespace {

    struct ReadFault {
        const char* name;
        InputRole failing;
        std::size_t bytesBeforeFailure; // the failing input's reads deliver this many bytes first
        JobMode mode;
        std::string_view message;
    };

    class JobReadFailure : public JobTest, public ::testing::WithParamInterface<ReadFault> { };

} // namespace

// A read that fails is not the end of the input: the run fails with the input's message, and the
// output keeps exactly the blocks computed before the failure.
TEST_P(JobReadFailure, FailsTheRunAndKeepsWhatWasWritten)
{
    const ReadFault& fault = GetParam();
    writeMono16(60000, 60000);
    const auto complete = completeOutput();
    ASSERT_TRUE(complete.has_value());

    std::size_t delivered = 0;
    environment.readInput
        = [&](InputRole role, wave::WaveReader& reader, void* buffer, std::size_t byteCount) {
              if (role != fault.failing)
                  return wave::readWave(reader, buffer, byteCount);
              if (delivered >= fault.bytesBeforeFailure) {
                  errno = EIO;
                  return std::int64_t { -1 };
              }
              const std::int64_t count = wave::readWave(reader, buffer, byteCount);
              delivered += static_cast<std::size_t>(std::max<std::int64_t>(count, 0));
              return count;
          };
    EXPECT_EQ(run(fault.mode), JobOutcome::Failed);

    const auto controls = port.controlEvents();
    EXPECT_EQ(
        std::count(controls.begin(), controls.end(), "error " + std::string(fault.message)), 1);
    EXPECT_EQ(controls.back(), std::string("released ") + modeName(fault.mode));
    const auto positions = port.eventsStartingWith("progress");
    EXPECT_EQ(std::count(positions.begin(), positions.end(), "progress 100"), 0);
    EXPECT_TRUE(allFlagsClear());
    ASSERT_EQ(port.reports.size(), 1u);
    EXPECT_EQ(port.reports[0].failure, fault.message);
    const std::string& failingPath
        = fault.failing == InputRole::Carrier ? settings.carrierPath : settings.modulatorPath;
    EXPECT_EQ(port.reports[0].failureDetail, failingPath + ": Input/output error");

    const std::size_t blocksDone = fault.bytesBeforeFailure / monoBlockBytes;
    if (fault.mode == JobMode::Vocode) {
        const auto output = readOutputWave(settings.outputPath);
        ASSERT_TRUE(output.has_value());
        ASSERT_EQ(output->data.size(), blocksDone * monoBlockBytes);
        EXPECT_TRUE(std::equal(output->data.begin(), output->data.end(), complete->data.begin()));
    } else {
        EXPECT_EQ(sink.played.size(), blocksDone * monoBlockBytes);
        EXPECT_EQ(sink.calls.back(), "close");
        EXPECT_EQ(sink.calls[sink.calls.size() - 2], "finish abort");
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, JobReadFailure,
    ::testing::Values(ReadFault { "ModulatorMidRun", InputRole::Modulator, 5 * monoBlockBytes,
                          JobMode::Vocode, message::modulatorNotRead },
        ReadFault { "CarrierMidRun", InputRole::Carrier, 7 * monoBlockBytes, JobMode::Vocode,
            message::carrierNotRead },
        ReadFault { "ModulatorAtOnce", InputRole::Modulator, 0, JobMode::Vocode,
            message::modulatorNotRead },
        ReadFault { "CarrierInPreview", InputRole::Carrier, 3 * monoBlockBytes, JobMode::Preview,
            message::carrierNotRead }),
    [](const ::testing::TestParamInfo<ReadFault>& fault) { return std::string(fault.param.name); });

} // namespace lumivox::job::test
