#include "control_help.h"
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
        double peak = 0.25;
        double clipFreeGain = 0.62;
        double carrierSeconds = 2.96, modulatorSeconds = 2.96;
        const char* failureDetail = "";
        bool floatOutput = false;
        const char* outputNote = "";
        bool totalKnown = true;
    };

    TEST(StatusText, SaysHowEachRunEndedWhatItKeptAndWhatClipped)
    {
        const QString output = QStringLiteral("/home/me/out takes/vocoded.wav");
        const EndCase cases[] = {
            { JobMode::Vocode, JobOutcome::Finished, 2.96, 2.96, 0, "",
                "Done: 2.96 s written to /home/me/out takes/vocoded.wav, peak −12.0 dBFS", true },
            { JobMode::Vocode, JobOutcome::Finished, 2.96, 2.96, 0, "",
                "Done: 2.96 s written to /home/me/out takes/vocoded.wav, peak −11.2 dBFS", true,
                0.2754 },
            { JobMode::Vocode, JobOutcome::Finished, 2.96, 2.96, 77, "",
                "Done: 2.96 s written to /home/me/out takes/vocoded.wav, peak 0.0 dBFS — 77 "
                "samples clipped; an "
                "Output Gain of 0.62× or less would not clip",
                true, 1.0, 0.6299 },
            // Float samples beyond full scale are kept, not clipped, and the peak is above 0.
            { JobMode::Vocode, JobOutcome::Finished, 2.0, 2.0, 34, "",
                "Done: 2.00 s written to /home/me/out takes/vocoded.wav, peak +1.2 dBFS — 34 "
                "samples beyond full scale (float, not clamped); an Output Gain of 0.90× or less "
                "would keep within it",
                true, 1.148, 0.9, 2.0, 2.0, "", true },
            // A name whose ending is no format that is written: the file is a WAV and says so.
            { JobMode::Vocode, JobOutcome::Finished, 2.0, 2.0, 0, "",
                "Done: 2.00 s written to /home/me/out takes/vocoded.wav, peak −12.0 dBFS — "
                "written as WAV: the ending .wv is not one of .wav, .flac, .ogg, .opus, .mp3 or "
                ".aiff",
                true, 0.25, 0.62, 2.0, 2.0, "", false,
                "written as WAV: the ending .wv is not one of .wav, .flac, .ogg, .opus, .mp3 or "
                ".aiff" },
            { JobMode::Vocode, JobOutcome::Finished, 4.0, 4.0, 0, "",
                "Done: 4.00 s written to /home/me/out takes/vocoded.wav, peak −12.0 dBFS\nThe "
                "carrier ended first; "
                "0.16 s of the modulator was left out.",
                true, 0.25, 0.62, 4.0, 4.16 },
            { JobMode::Vocode, JobOutcome::Finished, 4.0, 4.0, 0, "",
                "Done: 4.00 s written to /home/me/out takes/vocoded.wav, peak −12.0 dBFS\nThe "
                "modulator ended "
                "first; 1.25 s of the carrier was left out.",
                true, 0.25, 0.62, 5.25, 4.0 },
            { JobMode::Vocode, JobOutcome::Stopped, 1.2, 2.96, 1, "",
                "Cancelled: 1.20 s of 2.96 s kept in /home/me/out takes/vocoded.wav — 1 sample "
                "clipped; an Output "
                "Gain of 0.62× or less would not clip",
                true, 1.0, 0.62, 2.96, 9.0 },
            // A total resting on a header that claims more than its file holds is no figure.
            { JobMode::Vocode, JobOutcome::Stopped, 57.17, 97388.59, 0, "",
                "Cancelled: 57.17 s kept in /home/me/out takes/vocoded.wav", true, 0.25, 0.62,
                57.17, 57.17, "", false, "", false },
            { JobMode::Vocode, JobOutcome::Failed, 1.2, 2.96, 0, job::message::outputNotWritten,
                "Stopped: the output could not be written; 1.20 s kept in /home/me/out "
                "takes/vocoded.wav",
                true },
            { JobMode::Vocode, JobOutcome::Failed, 0.5, 2.96, 0,
                "The carrier wave file could not be read.",
                "Stopped: the carrier wave file could not be read; 0.50 s kept in /home/me/out "
                "takes/vocoded.wav",
                true },
            { JobMode::Vocode, JobOutcome::Failed, 0, 0, 0, job::message::bitDepthsDiffer,
                "Failed: the carrier and the modulator have different bit depths", false },
            // A failure's line keeps the cause its box gave under the message.
            { JobMode::Vocode, JobOutcome::Failed, 0, 0, 0,
                "The carrier wave file could not be opened.",
                "Failed: the carrier wave file could not be opened (/in/c.wav: No such file or "
                "directory)",
                false, 0.25, 0.62, 2.96, 2.96, "/in/c.wav: No such file or directory" },
            { JobMode::Vocode, JobOutcome::Failed, 0.5, 2.96, 0, "The carrier could not be read.",
                "Stopped: the carrier could not be read (/in/c.mp3: the file ends part way); "
                "0.50 s kept in /home/me/out takes/vocoded.wav",
                true, 0.25, 0.62, 2.96, 2.96, "/in/c.mp3: the file ends part way" },
            { JobMode::Preview, JobOutcome::Failed, 0, 0, 0, job::message::noOutputDevice,
                "Failed: no default output audio device was found on your system (ALSA: no "
                "card)",
                false, 0.25, 0.62, 2.96, 2.96, "ALSA: no card" },
            { JobMode::Preview, JobOutcome::Finished, 75, 75, 0, "", "Preview finished", false },
            { JobMode::Preview, JobOutcome::Stopped, 12.9, 75, 3, "",
                "Preview stopped at 0:12 — 3 samples clipped; an Output Gain of 1.50× or less "
                "would not clip",
                false, 1.0, 1.5 },
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
            report.peak = c.peak;
            report.clipFreeGain = c.clipFreeGain;
            report.carrierSeconds = c.carrierSeconds;
            report.modulatorSeconds = c.modulatorSeconds;
            report.failureDetail = c.failureDetail;
            report.floatOutput = c.floatOutput;
            report.outputNote = c.outputNote;
            report.totalKnown = c.totalKnown;
            const StatusLine line = runEndStatus(report, output);
            EXPECT_EQ(line.text.toStdString(), c.text);
            EXPECT_EQ(line.toolTip, c.pathAsToolTip ? output : QString()) << c.text;
            EXPECT_EQ(line.warning, c.clipped > 0 || *c.outputNote != '\0') << c.text;
        }
    }

    struct ShortInputCase {
        JobMode mode;
        job::ShortInput input;
        const char* text; // how the line ends
    };

    TEST(StatusText, WarnsOfAnInputWhoseDataEndedEarly)
    {
        const ShortInputCase cases[] = {
            { JobMode::Vocode, { true, 12.34, 7200.0 },
                " — the modulator's data ended at 12.3 s of 7200.0 s declared" },
            { JobMode::Preview, { false, 0.5, 3.0 },
                " — the carrier's data ended at 0.5 s of 3.0 s declared" },
        };
        for (const ShortInputCase& c : cases) {
            RunReport report;
            report.mode = c.mode;
            report.secondsDone = report.secondsTotal = c.input.secondsRead;
            report.shortInput = c.input;
            const StatusLine line = runEndStatus(report, QStringLiteral("/tmp/vocoded.wav"));
            EXPECT_TRUE(line.text.toStdString().ends_with(c.text)) << line.text.toStdString();
            EXPECT_TRUE(line.warning) << c.text;
        }
    }

    TEST(StatusText, SaysWhatWasDoneToTheInputs)
    {
        const std::string resampled = "modulator resampled from 22050 Hz to 44100 Hz";
        const std::pair<JobMode, const char*> cases[] = {
            { JobMode::Vocode,
                "Done: 3.10 s written to /tmp/out.wav, peak −6.0 dBFS — modulator resampled from "
                "22050 "
                "Hz to 44100 Hz" },
            { JobMode::Preview,
                "Preview finished — modulator resampled from 22050 Hz to 44100 Hz" },
        };
        for (const auto& [mode, text] : cases) {
            RunReport report;
            report.mode = mode;
            report.secondsDone = report.secondsTotal = 3.1;
            report.peak = 0.5;
            report.conversion = resampled;
            EXPECT_EQ(
                runEndStatus(report, QStringLiteral("/tmp/out.wav")).text.toStdString(), text);
        }
    }

    TEST(StatusText, LevelsReadInDecibelsWithOneDecimalAndASign)
    {
        const std::pair<double, const char*> cases[]
            = { { 1.0, "0.0 dB" }, { 2.0, "+6.0 dB" }, { 0.5, "−6.0 dB" }, { 0.99999, "0.0 dB" },
                  { 0.2754, "−11.2 dB" }, { 0.0, "−∞ dB" }, { 0.02, "−34.0 dB" } };
        for (const auto& [ratio, text] : cases)
            EXPECT_EQ(decibelText(ratio).toStdString(), text) << ratio;
        EXPECT_EQ(failureStatus(QStringLiteral("The carrier wave file could not be opened. It is "
                                               "gone."))
                      .toStdString(),
            "Failed: the carrier wave file could not be opened");
    }

    TEST(StatusText, CountsTheRunningJobAndTheClock)
    {
        EXPECT_EQ(vocodingStatus(42), "Vocoding… 42 %");
        EXPECT_EQ(previewingStatus(12.99), "Previewing… 0:12");
        EXPECT_EQ(clockTime(0), "0:00");
        EXPECT_EQ(clockTime(725.5), "12:05");
        EXPECT_EQ(emptyBoxHint(control::carrierPath), "Name a carrier file first.");
        EXPECT_EQ(emptyBoxHint(control::modulatorPath), "Name a modulator file first.");
        EXPECT_EQ(emptyBoxHint(control::outputPath), "Name an output file first.");
    }

} // namespace
} // namespace lumivox::app
