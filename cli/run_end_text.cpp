#include "run_end_text.h"

#include "command_line.h"
#include "job/run_facts.h"

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
    return fixed(tenths == 0.0 ? 0.0 : tenths / 10.0, 1) + " dBFS";
}

std::string runEndLines(const job::RunReport& report, std::string_view outputPath)
{
    const std::string prefix = std::string(programName) + ": ";
    std::string lines;
    if (report.mode == job::JobMode::Vocode && report.outcome == job::JobOutcome::Finished)
        lines += prefix + fixed(report.secondsDone, 2) + " s written to " + std::string(outputPath)
            + ", peak " + dbfsText(report.peak) + '\n';
    if (!report.conversion.empty())
        lines += prefix + report.conversion + '\n';
    if (report.clippedSamples > 0)
        lines += prefix + std::to_string(report.clippedSamples)
            + (report.clippedSamples == 1 ? " sample" : " samples") + " clipped; --gain "
            + std::to_string(job::clipFreeGainPosition(report.clipFreeGain))
            + " or less would not clip\n";
    if (const std::optional<job::CutShort> cut = job::cutShortOf(report))
        lines += prefix + (cut->carrierEndedFirst ? "the carrier" : "the modulator")
            + " ended first; " + secondsText(cut->secondsLeftOut) + " of the "
            + (cut->carrierEndedFirst ? "modulator" : "carrier") + " was left out\n";
    return lines;
}

} // namespace lumivox::cli
