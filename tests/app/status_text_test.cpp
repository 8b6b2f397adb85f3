#include "control_ids.h"
#include "job/job_messages.h"
#include "status_text.h"

#include <gtest/gtest.h>

namespace lumivox::app {
namespace {

    using job::JobMode;
    using job::JobOutcome;
    using job::RunReport;

    struct EndCase {
        JobMode mode;
        JobOutcome outcome;
        double secondsDone, secondsTotal;
        std::uint64_t clipped;
        std::string_view failure;
        const char* text;
        bool pathAsToolTip;
    };

    TEST(StatusText, SaysHowEachRunEndedWhatItKeptAndWhatClipped)
    {
        const QString output = QStringLiteral("/home/me/out takes/vocoded.wav");
        const EndCase cases[] = {
            { JobMode::Vocode, JobOutcome::Finished, 2.96, 2.96, 0, "",
                "Done: 2.96 s written to vocoded.wav", true },
            { JobMode::Vocode, JobOutcome::Finished, 2.96, 2.96, 77, "",
                "Done: 2.96 s written to vocoded.wav — 77 samples clipped; lower Output Gain",
                true },
            { JobMode::Vocode, JobOutcome::Stopped, 1.2, 2.96, 1, "",
                "Cancelled: 1.20 s of 2.96 s kept in vocoded.wav — 1 sample clipped; lower Output "
                "Gain",
                true },
            { JobMode::Vocode, JobOutcome::Failed, 1.2, 2.96, 0, job::message::outputNotWritten,
                "Stopped: the output could not be written; 1.20 s kept in vocoded.wav", true },
            { JobMode::Vocode, JobOutcome::Failed, 0.5, 2.96, 0,
                "The carrier wave file could not be read.",
                "Stopped: the carrier wave file could not be read; 0.50 s kept in vocoded.wav",
                true },
            { JobMode::Vocode, JobOutcome::Failed, 0, 0, 0, job::message::bitDepthsDiffer,
                "Failed: the carrier and the modulator have different bit depths", false },
            { JobMode::Preview, JobOutcome::Finished, 75, 75, 0, "", "Preview finished", false },
            { JobMode::Preview, JobOutcome::Stopped, 12.9, 75, 3, "",
                "Preview stopped at 0:12 — 3 samples clipped; lower Output Gain", false },
            { JobMode::Preview, JobOutcome::Failed, 0, 0, 0, job::message::noOutputDevice,
                "Failed: no default output audio device was found on your system", false },
        };
        for (const EndCase& c : cases) {
            RunReport report;
            report.mode = c.mode;
            report.outcome = c.outcome;
            report.secondsDone = c.secondsDone;
            report.secondsTotal = c.secondsTotal;
            report.clippedSamples = c.clipped;
            report.failure = std::string(c.failure);
            const StatusLine line = runEndStatus(report, output);
            EXPECT_EQ(line.text.toStdString(), c.text);
            EXPECT_EQ(line.toolTip, c.pathAsToolTip ? output : QString()) << c.text;
        }
    }

    TEST(StatusText, CountsTheRunningJobAndTheClock)
    {
        EXPECT_EQ(vocodingStatus(42), "Vocoding… 42 %");
        EXPECT_EQ(previewingStatus(12.99), "Previewing… 0:12");
        EXPECT_EQ(clockTime(0), "0:00");
        EXPECT_EQ(clockTime(725.5), "12:05");
        EXPECT_EQ(emptyBoxHint(app::control::carrierPath), "Name a carrier file first.");
        EXPECT_EQ(emptyBoxHint(app::control::modulatorPath), "Name a modulator file first.");
        EXPECT_EQ(emptyBoxHint(app::control::outputPath), "Name an output file first.");
    }

} // namespace
} // namespace lumivox::app
