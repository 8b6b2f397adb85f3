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
        double secondsTotal;
        double peak;
        std::uint64_t clipped;
        double clipFreeGain;
        double carrierSeconds, modulatorSeconds;
        bool leftOutAtLeast;
        bool floatOutput;
        std::optional<double> normalizedBy;
        const char* outputPath;
        const char* lines;
        bool totalKnown = true; // the shorter input's length was borne out by its file
    };

    constexpr double none = 9.0; // a clip-free gain beyond the slider: nothing to say

    TEST(RunEndText, SaysWhatWasWrittenHowLoudWhatClippedAndWhatWasCut)
    {
        const EndCase cases[] = {
            { JobMode::Vocode, JobOutcome::Finished, 2.96, 2.96, 0.2754, 0, none, 2.96, 2.96, false,
                false, {}, "out.wav", "lumivox-cli: 2.96 s written to out.wav, peak -11.2 dBFS\n" },
            { JobMode::Vocode, JobOutcome::Finished, 2.96, 2.96, 0.99999, 77, 0.62, 2.96, 3.0,
                false, false, {}, "out.wav",
                "lumivox-cli: 2.96 s written to out.wav, peak 0.0 dBFS\n"
                "lumivox-cli: 77 samples clipped; --gain 31 or less would not clip\n"
                "lumivox-cli: the carrier ended first; 0.04 s of the modulator was left out\n"
                "lumivox-cli: --repeat-carrier plays the carrier again from its start to the "
                "modulator's length\n" },
            { JobMode::Vocode, JobOutcome::Finished, 4.0, 4.0, 0.5, 1, 1.999, 5.25, 4.0, false,
                false, {}, "out.wav",
                "lumivox-cli: 4.00 s written to out.wav, peak -6.0 dBFS\n"
                "lumivox-cli: 1 sample clipped; --gain 99 or less would not clip\n"
                "lumivox-cli: the modulator ended first; 1.25 s of the carrier was left out\n" },
            // Counted only so far: the carrier went on beyond what was counted.
            { JobMode::Vocode, JobOutcome::Finished, 4.0, 4.0, 0.5, 0, none, 604.0, 4.0, true,
                false, {}, "out.wav",
                "lumivox-cli: 4.00 s written to out.wav, peak -6.0 dBFS\n"
                "lumivox-cli: the modulator ended first; more than 600.00 s of the carrier was "
                "left out\n" },
            // Float samples beyond full scale are kept, not clipped, and the peak is above 0.
            { JobMode::Vocode, JobOutcome::Finished, 2.0, 2.0, 1.148, 34, 0.9, 2.0, 2.0, false,
                true, {}, "out.wav",
                "lumivox-cli: 2.00 s written to out.wav, peak +1.2 dBFS\n"
                "lumivox-cli: 34 samples beyond full scale (float, not clamped); --gain 45 or "
                "less would keep within it\n" },
            { JobMode::Vocode, JobOutcome::Finished, 2.0, 2.0, 0.891, 0, none, 2.0, 2.0, false,
                false, 3.4, "out.flac",
                "lumivox-cli: 2.00 s written to out.flac, peak -1.0 dBFS (normalized, +3.4 dB)\n" },
            { JobMode::Vocode, JobOutcome::Stopped, 53.6, 300.0, 1.0, 5, 0.3, 53.6, 53.6, false,
                false, {}, "out.wav",
                "lumivox-cli: stopped: 53.60 s of 300.00 s kept in out.wav\n"
                "lumivox-cli: 5 samples clipped; --gain 15 or less would not clip\n" },
            // A total resting on a header that claims more than its file holds (a wave file
            // written ahead of a stream) is no figure: only what was kept is said.
            { JobMode::Vocode, JobOutcome::Stopped, 53.6, 97388.59, 0.5, 0, none, 53.6, 53.6, false,
                false, {}, "out.wav", "lumivox-cli: stopped: 53.60 s kept in out.wav\n", false },
            // A name is shown with what a terminal would act on escaped.
            { JobMode::Vocode, JobOutcome::Stopped, 1.0, 2.0, 0.5, 0, none, 1.0, 1.0, false, false,
                {}, "a\x1b[31mred\nb.wav",
                "lumivox-cli: stopped: 1.00 s of 2.00 s kept in a\\033[31mred\\nb.wav\n" },
            { JobMode::Preview, JobOutcome::Finished, 3.0, 3.0, 0.5, 0, none, 3.0, 3.001, false,
                false, {}, "",
                "lumivox-cli: the carrier ended first; less than 0.01 s of the modulator was "
                "left out\n"
                "lumivox-cli: --repeat-carrier plays the carrier again from its start to the "
                "modulator's length\n" },
            { JobMode::Preview, JobOutcome::Stopped, 1.0, 3.0, 0.5, 0, none, 1.0, 1.0, false, false,
                {}, "", "" },
            { JobMode::Vocode, JobOutcome::Failed, 0.0, 0.0, 0.0, 0, none, 0.0, 0.0, false, false,
                {}, "out.wav", "" },
        };
        for (const EndCase& c : cases) {
            job::RunReport report;
            report.mode = c.mode;
            report.outcome = c.outcome;
            report.secondsDone = c.secondsDone;
            report.secondsTotal = c.secondsTotal;
            report.peak = c.peak;
            report.clippedSamples = c.clipped;
            report.clipFreeGain = c.clipFreeGain;
            report.carrierSeconds = c.carrierSeconds;
            report.modulatorSeconds = c.modulatorSeconds;
            report.leftOutAtLeast = c.leftOutAtLeast;
            report.floatOutput = c.floatOutput;
            report.normalizedByDecibels = c.normalizedBy;
            report.totalKnown = c.totalKnown;
            EXPECT_EQ(runEndLines(report, c.outputPath), c.lines);
        }
    }

} // namespace
} // namespace lumivox::cli
