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
    // The lanes come in halves of 32 bands, each laid out whole (a row per coefficient or state
    // and section), the upper half after the lower one, so that a bank of 32 bands or fewer
    // fills the cache's lines and sets as densely as one made for it alone.
    static constexpr int halfBands = 32;

    struct Half {
        alignas(64) double gain[halfBands];
        alignas(64) double b1[bandSectionCount][halfBands];
        alignas(64) double b2[bandSectionCount][halfBands];
        alignas(64) double a1[bandSectionCount][halfBands];
        alignas(64) double a2[bandSectionCount][halfBands];
        alignas(64) double z1[bandSectionCount][halfBands];
        alignas(64) double z2[bandSectionCount][halfBands];
    };

    // One cascade of every band, seen through its two halves. A group of lanes never straddles
    // the halves: groups start at multiples of their width.
    struct Cascades {
        BandLanes* lanes;
        int which;

        Half& half(int band) const { return lanes->halves[band / halfBands][which]; }
    };
    static_assert(2 * halfBands == mostBands && halfBands % bandPadding == 0);

    // The lower halves of the modulator band-passes, the carrier band-passes and the envelopes
    // first, then the upper halves: a bank of up to 32 bands lies as one made for 32 alone.
    Half halves[2][3];

    // With Clarity's band alignment (band_alignment.h), how many frames back each band of the
    // padded bank takes its modulator sample from; the modulator handed to the analysis then has
    // that many frames before its first. Null: every band takes the frame itself.
    const int* modulatorDelays = nullptr;

    Cascades modulator() { return { this, 0 }; }
    Cascades carrier() { return { this, 1 }; }
    Cascades envelope() { return { this, 2 }; } // only the first envelopeSectionCount sections
    const Cascades modulator() const { return { const_cast<BandLanes*>(this), 0 }; }
    const Cascades carrier() const { return { const_cast<BandLanes*>(this), 1 }; }
    const Cascades envelope() const { return { const_cast<BandLanes*>(this), 2 }; }

    BandLanes(); // every lane silent
    BandLanes(const BandLanes&) = delete;
    BandLanes& operator=(const BandLanes&) = delete;

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

// Where a band lies in its half of the lanes.
constexpr int laneInHalf(int band) { return band % BandLanes::halfBands; }

// The work area of a run of frames: for each frame the levels of the padded bank's bands, the
// carrier band signals (which become the band products), the smoothed levels, and the mean level.
class FrameRows {
public:
    // Level rows carry -0.0 on both sides, so that a neighbour as far as Vagueness reaches is
    // always a valid load, and adding its weighted value (-0.0) leaves any sum exactly as it was.
    // paddedBands is a multiple of bandPadding; spreadReach at most maxSpread.
    FrameRows(int frameCapacity, int paddedBands, int spreadReach); // may throw std::bad_alloc
    // Padding enough for the reach of any layout of that many bands, in whole lines.
    static constexpr int levelPadFor(int paddedBands) { return paddedBands <= 32 ? 16 : 32; }
    FrameRows(const FrameRows&) = delete;
    FrameRows& operator=(const FrameRows&) = delete;

    int capacity() const { return frameCapacity; }
    int bands() const { return static_cast<int>(bandCount); }
    // The bank's own bands, the rest of bands() being silent lanes. The one-thread analysis and
    // levelling run only the groups that hold some of them; the silent lanes' rows keep the exact
    // zeros they start with.
    int liveBands() const { return liveBandCount; }
    void setLiveBands(int bands) { liveBandCount = bands; }
    double* levels(int frame) { return levelsStart + frame * levelStride; }
    double* carrierBands(int frame) { return carrierStart + frame * bandCount; }
    double* smoothed(int frame) { return smoothedStart + frame * bandCount; }
    double* means() { return meansStart; }

private:
    struct alignas(64) Line {
        double values[8];
    };
    int frameCapacity;
    std::ptrdiff_t bandCount;
    int liveBandCount;
    std::ptrdiff_t levelPad;
    std::ptrdiff_t levelStride;
    std::vector<Line> lines;
    double* levelsStart; // frame 0's level row, after its padding
    double* carrierStart;
    double* smoothedStart;
    double* meansStart;
};

} // namespace lumivox::engine
