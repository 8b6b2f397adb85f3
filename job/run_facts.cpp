#include "run_facts.h"

#include <algorithm>
#include <cmath>

namespace lumivox::job {

namespace {
    constexpr double carrierLeftOutWorthTelling = 0.1; // seconds
    constexpr int gainPositionsPerUnit = 50;
}

std::optional<CutShort> cutShortOf(const RunReport& report)
{
    if (report.outcome != JobOutcome::Finished)
        return std::nullopt;
    const double carrierLonger = report.carrierSeconds - report.modulatorSeconds;
    if (carrierLonger < 0.0)
        return CutShort { true, -carrierLonger, report.leftOutAtLeast };
    if (carrierLonger > carrierLeftOutWorthTelling)
        return CutShort { false, carrierLonger, report.leftOutAtLeast };
    return std::nullopt;
}

int clipFreeGainPosition(double clipFreeGain)
{
    if (!(clipFreeGain < 2.0))
        return 2 * gainPositionsPerUnit;
    // The hair added keeps a gain of exactly 0.62 at position 31, although 0.62 × 50 may come out
    // a hair below 31 in binary.
    const double position = std::floor(clipFreeGain * gainPositionsPerUnit + 1e-9);
    return std::clamp(static_cast<int>(position), 0, 2 * gainPositionsPerUnit);
}

} // namespace lumivox::job
