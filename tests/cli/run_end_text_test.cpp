#include "run_end_text.h"

#include <gtest/gtest.h>

namespace lumivox::cli {
namespace {

    using job::JobMode;
    using job::JobOutcome;

    struct EndCase {
        JobMode mode;
        JobOutcome outcome;
        double secondsDone;
        double peak;
        std::uint64_t clipped;
        double clipFreeGain;
        double carrierSeconds, modulatorSeconds;
        const char* lines;
    };

    TEST(RunEndText, SaysWhatWasWrittenHowLoudWhatClippedAndWhatWasCut)
    {
        const EndCase cases[] = {
            { JobMode::Vocode, JobOutcome::Finished, 2.96, 0.2754, 0, 9, 2.96, 2.96,
                "lumivox-cli: 2.96 s written to out.wav, peak -11.2 dBFS\n" },
            { JobMode::Vocode, JobOutcome::Finished, 2.96, 0.99999, 77, 0.62, 2.96, 3.0,
                "lumivox-cli: 2.96 s written to out.wav, peak 0.0 dBFS\n"
                "lumivox-cli: 77 samples clipped; --gain 31 or less would not clip\n"
                "lumivox-cli: the carrier ended first; 0.04 s of the modulator was left out\n" },
            { JobMode::Vocode, JobOutcome::Finished, 4.0, 0.5, 1, 1.999, 5.25, 4.0,
                "lumivox-cli: 4.00 s written to out.wav, peak -6.0 dBFS\n"
                "lumivox-cli: 1 sample clipped; --gain 99 or less would not clip\n"
                "lumivox-cli: the modulator ended first; 1.25 s of the carrier was left out\n" },
            { JobMode::Vocode, JobOutcome::Stopped, 1.2, 1.0, 5, 0.3, 2.0, 9.0,
                "lumivox-cli: 5 samples clipped; --gain 15 or less would not clip\n" },
            { JobMode::Preview, JobOutcome::Finished, 3.0, 0.5, 0, 9, 3.0, 3.001,
                "lumivox-cli: the carrier ended first; less than 0.01 s of the modulator was "
                "left out\n" },
            { JobMode::Vocode, JobOutcome::Failed, 0.0, 0.0, 0, 9, 0.0, 0.0, "" },
        };
        for (const EndCase& c : cases) {
            job::RunReport report;
            report.mode = c.mode;
            report.outcome = c.outcome;
            report.secondsDone = c.secondsDone;
            report.peak = c.peak;
            report.clippedSamples = c.clipped;
            report.clipFreeGain = c.clipFreeGain;
            report.carrierSeconds = c.carrierSeconds;
            report.modulatorSeconds = c.modulatorSeconds;
            EXPECT_EQ(runEndLines(report, "out.wav"), c.lines);
        }
    }

} // namespace
} // namespace lumivox::cli
