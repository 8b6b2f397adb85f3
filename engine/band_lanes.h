#pragma once

#include <cstddef>

namespace lumivox::engine {

class VocoderEngine;

// The engine's bank copied into structure-of-arrays form (one array per coefficient or state
// across the 32 bands), so that neighbouring bands sit in neighbouring vector lanes, plus the work
// area of one chunk of frames. The block path loads it from the cascades, runs, and stores the
// filter states back, so the cascades stay the one true record of the engine's state.
struct BandLanes {
    static constexpr int bands = 32;
    static constexpr int bandSections = 5;
    static constexpr int envelopeSections = 2;
    static constexpr int maxSpread = 14;
    static constexpr int chunkFrames = 64;
    // Level rows carry zeros on both sides so that a neighbour 14 bands away is always a valid
    // load; lanes whose neighbour lies outside the bank never use the value they load.
    static constexpr int levelPad = 16;
    static constexpr int levelRow = levelPad + bands + levelPad;

    struct Cascades {
        alignas(64) double gain[bands];
        alignas(64) double b1[bandSections][bands];
        alignas(64) double b2[bandSections][bands];
        alignas(64) double a1[bandSections][bands];
        alignas(64) double a2[bandSections][bands];
        alignas(64) double z1[bandSections][bands];
        alignas(64) double z2[bandSections][bands];
    };

    Cascades modulator;
    Cascades carrier;
    Cascades envelope; // only the first envelopeSections sections are used

    alignas(64) double denominators[bands]; // the Vagueness weights' sum for each band
    alignas(64) double levels[chunkFrames][levelRow];
    alignas(64) double smoothed[chunkFrames][bands];
    alignas(64) double carrierBands[chunkFrames][bands];
    alignas(64) double means[chunkFrames];

    // True when the engine's bank has the fixed shape this layout holds.
    static bool fits(const VocoderEngine& engine);
    void load(const VocoderEngine& engine);
    void storeStates(VocoderEngine& engine) const;
};

} // namespace lumivox::engine
