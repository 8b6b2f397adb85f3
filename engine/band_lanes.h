#pragma once

#include "engine_constants.h"

#include <cstddef>
#include <vector>

namespace lumivox::engine {

struct FilterBank;

// The bank copied into structure-of-arrays form (one array per coefficient or state across the
// bands), so that neighbouring bands sit in neighbouring vector lanes. The block path loads it
// from the cascades, runs, and stores the filter states back, so the cascades stay the one true
// record of the engine's state. The lanes past the bank's bands, up to the padded count, hold
// silent bands: all their gains and coefficients are 0, so that they give exact zeros.
struct BandLanes {
    static constexpr int bands = mostBands; // room for the most bands a layout has

    struct Cascades {
        alignas(64) double gain[bands];
        alignas(64) double b1[bandSectionCount][bands];
        alignas(64) double b2[bandSectionCount][bands];
        alignas(64) double a1[bandSectionCount][bands];
        alignas(64) double a2[bandSectionCount][bands];
        alignas(64) double z1[bandSectionCount][bands];
        alignas(64) double z2[bandSectionCount][bands];
    };

    Cascades modulator;
    Cascades carrier;
    Cascades envelope; // only the first envelopeSectionCount sections are used

    BandLanes(); // every lane silent
    void load(const FilterBank& bank);
    void storeStates(FilterBank& bank) const;
    // The bands [firstBand, endBand) alone, for two threads that split the bands between them.
    void loadBands(const FilterBank& bank, int firstBand, int endBand);
    void storeBandStates(FilterBank& bank, int firstBand, int endBand) const;
    // The two sides of a run split between two threads, each loading and storing only the states
    // it runs: the modulator side the modulator band-passes and the first envelopeSections
    // sections of the envelopes, the carrier side the carrier band-passes and the envelopes'
    // other sections.
    void loadModulatorSide(const FilterBank& bank, int envelopeSections);
    void storeModulatorSideStates(FilterBank& bank, int envelopeSections) const;
    void loadCarrierSide(const FilterBank& bank, int envelopeSectionsDone);
    void storeCarrierSideStates(FilterBank& bank, int envelopeSectionsDone) const;
};

// The work area of a run of frames: for each frame the levels of the padded bank's bands, the
// carrier band signals (which become the band products), the smoothed levels, and the mean level.
class FrameRows {
public:
    // Level rows carry -0.0 on both sides, so that a neighbour as far as Vagueness reaches is
    // always a valid load, and adding its weighted value (-0.0) leaves any sum exactly as it was.
    // paddedBands is a multiple of bandPadding; spreadReach at most maxSpread.
    FrameRows(int frameCapacity, int paddedBands, int spreadReach); // may throw std::bad_alloc
    FrameRows(const FrameRows&) = delete;
    FrameRows& operator=(const FrameRows&) = delete;

    int capacity() const { return frameCapacity; }
    int bands() const { return bandCount; }
    double* levels(int frame) { return &lines[0].values[0] + frame * levelStride + levelPad; }
    double* carrierBands(int frame) { return carrierStart + frame * bandCount; }
    double* smoothed(int frame) { return smoothedStart + frame * bandCount; }
    double* means() { return meansStart; }

private:
    struct alignas(64) Line {
        double values[8];
    };
    int frameCapacity;
    int bandCount;
    int levelPad;
    int levelStride;
    std::vector<Line> lines;
    double* carrierStart;
    double* smoothedStart;
    double* meansStart;
};

} // namespace lumivox::engine
