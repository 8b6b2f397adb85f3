#include "run_report.h"

#include <cstdio>

namespace lumivox::job {

std::string shortInputWarning(const ShortInput& input)
{
    char text[160];
    std::snprintf(text, sizeof text, "the %s's data ended at %.1f s of %.1f s declared",
        input.modulator ? "modulator" : "carrier", input.secondsRead, input.secondsDeclared);
    return text;
}

} // namespace lumivox::job
