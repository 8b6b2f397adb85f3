#include "band_lanes.h"

#include "filter_bank.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

namespace lumivox::engine {

namespace {

    // The gain and coefficients of every section, and the states of sections [firstState,
    // endState): two threads may each load and store the states of their own sections of one
    // cascade.
    void loadCascade(const BandLanes::Cascades& lanes, int band, const FilterCascade& cascade,
        std::size_t firstState = 0, std::size_t endState = bandSectionCount)
    {
        lanes.half(band).gain[laneInHalf(band)] = cascade.gain;
        for (std::size_t s = 0; s < cascade.sections.size(); ++s) {
            const BiquadSection& section = cascade.sections[s];
            lanes.half(band).b1[s][laneInHalf(band)] = section.b1;
            lanes.half(band).b2[s][laneInHalf(band)] = section.b2;
            lanes.half(band).a1[s][laneInHalf(band)] = section.a1;
            lanes.half(band).a2[s][laneInHalf(band)] = section.a2;
            if (s >= firstState && s < endState) {
                lanes.half(band).z1[s][laneInHalf(band)] = section.z1;
                lanes.half(band).z2[s][laneInHalf(band)] = section.z2;
            }
        }
    }

    int bankBands(const FilterBank& bank) { return static_cast<int>(bank.modulatorBands.size()); }

    void storeCascadeStates(const BandLanes::Cascades& lanes, int band, FilterCascade& cascade,
        std::size_t firstState = 0, std::size_t endState = bandSectionCount)
    {
        for (std::size_t s = firstState; s < std::min(endState, cascade.sections.size()); ++s) {
            cascade.sections[s].z1 = lanes.half(band).z1[s][laneInHalf(band)];
            cascade.sections[s].z2 = lanes.half(band).z2[s][laneInHalf(band)];
        }
    }

} // namespace

BandLanes::BandLanes()
    : halves {}
{
}

void BandLanes::load(const FilterBank& bank) { loadBands(bank, 0, bankBands(bank)); }

void BandLanes::storeStates(FilterBank& bank) const { storeBandStates(bank, 0, bankBands(bank)); }

// The bands past the bank's own are the silent padding; their lanes stay as they are.
void BandLanes::loadBands(const FilterBank& bank, int firstBand, int endBand)
{
    for (int band = firstBand; band < std::min(endBand, bankBands(bank)); ++band) {
        const auto i = static_cast<std::size_t>(band);
        loadCascade(modulator(), band, bank.modulatorBands[i]);
        loadCascade(carrier(), band, bank.carrierBands[i]);
        loadCascade(envelope(), band, *bank.envelopes[i].lowPass);
    }
}

void BandLanes::storeBandStates(FilterBank& bank, int firstBand, int endBand) const
{
    for (int band = firstBand; band < std::min(endBand, bankBands(bank)); ++band) {
        const auto i = static_cast<std::size_t>(band);
        storeCascadeStates(modulator(), band, bank.modulatorBands[i]);
        storeCascadeStates(carrier(), band, bank.carrierBands[i]);
        storeCascadeStates(envelope(), band, *bank.envelopes[i].lowPass);
    }
}

void BandLanes::loadModulatorSide(const FilterBank& bank, int envelopeSections)
{
    for (int band = 0; band < bankBands(bank); ++band) {
        const auto i = static_cast<std::size_t>(band);
        loadCascade(modulator(), band, bank.modulatorBands[i]);
        loadCascade(envelope(), band, *bank.envelopes[i].lowPass, 0,
            static_cast<std::size_t>(envelopeSections));
    }
}

void BandLanes::storeModulatorSideStates(FilterBank& bank, int envelopeSections) const
{
    for (int band = 0; band < bankBands(bank); ++band) {
        const auto i = static_cast<std::size_t>(band);
        storeCascadeStates(modulator(), band, bank.modulatorBands[i]);
        storeCascadeStates(envelope(), band, *bank.envelopes[i].lowPass, 0,
            static_cast<std::size_t>(envelopeSections));
    }
}

void BandLanes::loadCarrierSide(const FilterBank& bank, int envelopeSectionsDone)
{
    for (int band = 0; band < bankBands(bank); ++band) {
        const auto i = static_cast<std::size_t>(band);
        loadCascade(carrier(), band, bank.carrierBands[i]);
        loadCascade(envelope(), band, *bank.envelopes[i].lowPass,
            static_cast<std::size_t>(envelopeSectionsDone));
    }
}

void BandLanes::storeCarrierSideStates(FilterBank& bank, int envelopeSectionsDone) const
{
    for (int band = 0; band < bankBands(bank); ++band) {
        const auto i = static_cast<std::size_t>(band);
        storeCascadeStates(carrier(), band, bank.carrierBands[i]);
        storeCascadeStates(envelope(), band, *bank.envelopes[i].lowPass,
            static_cast<std::size_t>(envelopeSectionsDone));
    }
}

FrameRows::FrameRows(int capacity, int paddedBands, int spreadReach)
    : frameCapacity(capacity)
    , bandCount(paddedBands)
    , liveBandCount(paddedBands)
    // At least 16, and whole lines, so that every row starts on a line.
    , levelPad(levelPadFor(paddedBands))
    , levelStride(levelPad + paddedBands + levelPad)
{
    constexpr std::size_t perLine = 8;
    if (spreadReach > levelPad)
        throw std::logic_error("level rows: Vagueness reaches past the padding");
    const auto frames = static_cast<std::size_t>(capacity);
    const std::size_t levelLines = frames * static_cast<std::size_t>(levelStride) / perLine;
    const std::size_t bandLines = frames * static_cast<std::size_t>(bandCount) / perLine;
    const std::size_t meanLines = (frames + perLine - 1) / perLine;
    lines.resize(levelLines + 2 * bandLines + meanLines);
    for (std::size_t i = 0; i < levelLines; ++i) {
        for (double& value : lines[i].values)
            value = -0.0;
    }
    levelsStart = &lines[0].values[0] + levelPad;
    carrierStart = &lines[levelLines].values[0];
    smoothedStart = &lines[levelLines + bandLines].values[0];
    meansStart = &lines[levelLines + 2 * bandLines].values[0];
}

} // namespace lumivox::engine
