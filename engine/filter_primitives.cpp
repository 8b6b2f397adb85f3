#include "filter_primitives.h"

#include "filter_tables.h"

#include <cstddef>

namespace lumivox::engine {

FilterCascade::FilterCascade(int count)
    : sectionCount(count > 0 ? count : 1)
    , sections(static_cast<std::size_t>(sectionCount))
{
}

EnvelopeFollower::EnvelopeFollower()
    : lowPass(std::make_unique<FilterCascade>(envelopeSectionCount))
{
    loadCoefficients(*lowPass, envelopeCoefficients());
}

void loadCoefficients(FilterCascade& cascade, std::span<const double> row)
{
    cascade.gain = row[0];
    for (std::size_t s = 0; s < cascade.sections.size(); ++s) {
        BiquadSection& section = cascade.sections[s];
        section.b1 = row[1 + 4 * s];
        section.b2 = row[2 + 4 * s];
        section.a1 = row[3 + 4 * s];
        section.a2 = row[4 + 4 * s];
    }
}

} // namespace lumivox::engine
