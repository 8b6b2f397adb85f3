#include "band_lanes.h"

#include "vocoder_engine.h"

#include <cstddef>

namespace lumivox::engine {

namespace {

    bool hasSections(const FilterCascade* cascade, int count)
    {
        return cascade != nullptr && cascade->sectionCount == count
            && cascade->sections.size() == static_cast<std::size_t>(count);
    }

    void loadCascade(BandLanes::Cascades& lanes, int band, const FilterCascade& cascade)
    {
        lanes.gain[band] = cascade.gain;
        for (std::size_t s = 0; s < cascade.sections.size(); ++s) {
            const BiquadSection& section = cascade.sections[s];
            lanes.b1[s][band] = section.b1;
            lanes.b2[s][band] = section.b2;
            lanes.a1[s][band] = section.a1;
            lanes.a2[s][band] = section.a2;
            lanes.z1[s][band] = section.z1;
            lanes.z2[s][band] = section.z2;
        }
    }

    void storeCascadeStates(const BandLanes::Cascades& lanes, int band, FilterCascade& cascade)
    {
        for (std::size_t s = 0; s < cascade.sections.size(); ++s) {
            cascade.sections[s].z1 = lanes.z1[s][band];
            cascade.sections[s].z2 = lanes.z2[s][band];
        }
    }

} // namespace

bool BandLanes::fits(const VocoderEngine& engine)
{
    if (engine.bandCount != bands || engine.modulatorBands.size() != bands
        || engine.carrierBands.size() != bands || engine.envelopes.size() != bands)
        return false;
    for (std::size_t i = 0; i < bands; ++i) {
        if (!hasSections(engine.modulatorBands[i].get(), bandSections)
            || !hasSections(engine.carrierBands[i].get(), bandSections)
            || !hasSections(engine.envelopes[i].lowPass.get(), envelopeSections))
            return false;
    }
    return true;
}

void BandLanes::load(const VocoderEngine& engine)
{
    for (int band = 0; band < bands; ++band) {
        const auto i = static_cast<std::size_t>(band);
        loadCascade(modulator, band, *engine.modulatorBands[i]);
        loadCascade(carrier, band, *engine.carrierBands[i]);
        loadCascade(envelope, band, *engine.envelopes[i].lowPass);
    }

    // The padding around each level row must hold plain numbers: lanes at the edges of the bank
    // load from it (and then ignore what they loaded).
    for (auto& row : levels) {
        for (int i = 0; i < levelPad; ++i) {
            row[i] = 0.0;
            row[levelPad + bands + i] = 0.0;
        }
    }

    // Each band's Vagueness denominator, summed in the order processSample sums it.
    for (int band = 0; band < bands; ++band) {
        double denominator = 1.0;
        for (int k = 1; k <= maxSpread && band + k < bands; ++k) {
            if (engine.spreadWeights[static_cast<std::size_t>(k)] == 0.0)
                break;
            denominator += engine.spreadWeights[static_cast<std::size_t>(k)];
        }
        for (int k = 1; k <= maxSpread && k <= band; ++k) {
            if (engine.spreadWeights[static_cast<std::size_t>(k)] == 0.0)
                break;
            denominator += engine.spreadWeights[static_cast<std::size_t>(k)];
        }
        denominators[band] = denominator;
    }
}

void BandLanes::storeStates(VocoderEngine& engine) const
{
    for (int band = 0; band < bands; ++band) {
        const auto i = static_cast<std::size_t>(band);
        storeCascadeStates(modulator, band, *engine.modulatorBands[i]);
        storeCascadeStates(carrier, band, *engine.carrierBands[i]);
        storeCascadeStates(envelope, band, *engine.envelopes[i].lowPass);
    }
}

} // namespace lumivox::engine
