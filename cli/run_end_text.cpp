#include "run_end_text.h"

#include "command_line.h"
#include "job/run_facts.h"
#include "shown_name.h"

#include <cmath>
#include <cstdio>

namespace lumivox::cli {

namespace {
    std::string fixed(double value, int decimals)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        return text;
    }

    std::string secondsText(double seconds)
    {
        return seconds < 0.005 ? "less than 0.01 s" : fixed(seconds, 2) + " s";
    }
}

std::string dbfsText(double peak)
{
    if (!(peak > 0.0))
        return "-inf dBFS";
    // Rounded first, so that a peak just under full scale reads 0.0 rather than -0.0.
    const double tenths = std::round(200.0 * std::log10(peak));
    // A float output may lie above full scale.
    std::string text = tenths > 0.0 ? "+" : "";
    text += fixed(tenths == 0.0 ? 0.0 : tenths / 10.0, 1);
    text += " dBFS";
    return text;
}

std::string runEndLines(const job::RunReport& report, std::string_view outputPath)
{
    const std::string prefix = std::string(programName) + ": ";
    std::string lines;
    const bool vocode = report.mode == job::JobMode::Vocode;
    if (vocode && report.outcome == job::JobOutcome::Finished) {
        lines += prefix + fixed(report.secondsDone, 2) + " s written to " + shownName(outputPath)
            + ", peak " + dbfsText(report.peak);
        if (report.normalizedByDecibels) {
            const double change = *report.normalizedByDecibels;
            lines += change >= 0.0 ? " (normalized, +" : " (normalized, ";
            lines += fixed(change, 1) + " dB)";
        }
        lines += '\n';
    }
    // The total only where a file bore it out: a header's claim would be no figure to give.
    if (vocode && report.outcome == job::JobOutcome::Stopped)
        lines += prefix + "stopped: " + fixed(report.secondsDone, 2) + " s"
            + (report.totalKnown ? " of " + fixed(report.secondsTotal, 2) + " s" : "") + " kept in "
            + shownName(outputPath) + '\n';
    if (!report.conversion.empty())
        lines += prefix + report.conversion + '\n';
    if (report.clippedSamples > 0) {
        const std::string count = std::to_string(report.clippedSamples)
            + (report.clippedSamples == 1 ? " sample" : " samples");
        const std::string gain
            = "--gain " + std::to_string(job::clipFreeGainPosition(report.clipFreeGain));
        // Float samples are stored as they are: beyond full scale, but not clipped.
        lines += prefix
            + (report.floatOutput ? count + " beyond full scale (float, not clamped); " + gain
                        + " or less would keep within it\n"
                                  : count + " clipped; " + gain + " or less would not clip\n");
    }
    if (const std::optional<job::CutShort> cut = job::cutShortOf(report)) {
        lines += prefix + (cut->carrierEndedFirst ? "the carrier" : "the modulator")
            + " ended first; " + (cut->atLeast ? "more than " : "")
            + secondsText(cut->secondsLeftOut) + " of the "
            + (cut->carrierEndedFirst ? "modulator" : "carrier") + " was left out\n";
        if (cut->carrierEndedFirst)
            lines += prefix
                + "--repeat-carrier plays the carrier again from its start to the modulator's "
                  "length\n";
    }
    return lines;
}

} // namespace lumivox::cli
