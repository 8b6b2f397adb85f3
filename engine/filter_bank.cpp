#include "filter_bank.h"

#include "filter_tables.h"

#include <cstddef>

namespace lumivox::engine {

FilterBank::FilterBank()
{
    modulatorBands.reserve(bandCount);
    carrierBands.reserve(bandCount);
    envelopes.reserve(bandCount);
    for (int band = 0; band < bandCount; ++band) {
        const auto row
            = bandCoefficients().subspan(static_cast<std::size_t>(band * bandRowSize), bandRowSize);
        carrierBands.emplace_back(bandSectionCount);
        loadCoefficients(carrierBands.back(), row);
        modulatorBands.emplace_back(bandSectionCount);
        loadCoefficients(modulatorBands.back(), row);
        envelopes.emplace_back();
    }
}

} // namespace lumivox::engine
