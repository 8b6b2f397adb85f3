#include "filter_bank.h"

#include "filter_tables.h"

namespace lumivox::engine {

FilterBank::FilterBank(const BandLayout& layout)
{
    const int count = layout.bandCount();
    modulatorBands.reserve(static_cast<std::size_t>(count));
    carrierBands.reserve(static_cast<std::size_t>(count));
    envelopes.reserve(static_cast<std::size_t>(count));
    for (int band = 0; band < count; ++band) {
        const auto row = layout.bandRow(band);
        carrierBands.emplace_back(bandSectionCount);
        loadCoefficients(carrierBands.back(), row);
        modulatorBands.emplace_back(bandSectionCount);
        loadCoefficients(modulatorBands.back(), row);
        envelopes.emplace_back();
        loadCoefficients(*envelopes.back().lowPass, layout.envelopeRow());
    }
}

} // namespace lumivox::engine
