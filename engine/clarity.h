#pragma once

#include <cstddef>

namespace lumivox::engine {

enum class VectorUnit; // block_path.h

// The Clarity stage, run after the bands. The bank's lowest bands are narrow, so they follow the
// voice tens of milliseconds behind its upper bands and smear every syllable's onset. Clarity
// hands the region below about 500 Hz to four wide, fast bands of its own, taking away the bank's
// output there as much as it brings them in, and lets the modulator's own hiss from about 2 kHz
// up through at the carrier's level as far as a frame sounds unvoiced. One amount, 0 to 1, scales
// it all. The work falls in two parts that two threads can run a block apart: the first takes the
// modulator's side and the carrier's level, the second the carrier's fast bands and the bank's
// lowest region; with eight-lane registers the first runs the carrier's fast bands too, beside the
// modulator's. However it is divided, each lane does the same element-wise arithmetic in the same
// order, so every path and every vector unit gives the same bits.
class ClarityStage {
public:
    ClarityStage();

    // Clamped to [0, 1]. Turning it up from 0 restarts the stage in zero state, so that it fades
    // in instead of carrying filter state from before into the sound.
    void setAmount(double amount);
    double amount() const { return amountValue; }

    // One frame: the engine's output for the frame (vocoded, made with the output gain gain) with
    // Clarity applied. carrier and modulator as the engine takes them.
    double process(double carrier, double modulator, double vocoded, double gain);

    // process() frame by frame, output holding the engine's output and receiving the result.
    void processBlock(VectorUnit unit, const double* carrier, const double* modulator,
        double* output, std::size_t frameCount, double gain);

    // process() in two parts, so that the engine's two halves can each run one on its own thread:
    // firstPart leaves handOverValues values per frame in values; secondPart takes them for the
    // same frames with the carrier and the engine's output. The parts keep separate state; called
    // in frame order they give process()'s bits.
    static constexpr std::size_t handOverValues = 8;
    // Both run on the unit given (every unit gives the same bits).
    void firstPart(VectorUnit unit, const double* carrier, const double* modulator, double* values,
        std::size_t frameCount);
    void secondPart(VectorUnit unit, const double* carrier, const double* values, double* output,
        std::size_t frameCount, double gain);

    // The state of the filters and followers, lane by lane.
    typedef double Lanes __attribute__((vector_size(4 * sizeof(double))));
    struct FastBands {
        Lanes w1[2], w2[2]; // the two sections' states, negated
    };
    struct SideFilters {
        Lanes side1, side2; // lanes: hiss band, voiced band, bank region, carrier level
    };
    struct ModulatorState {
        FastBands bands;
        SideFilters side; // the first two lanes count
        Lanes envelopes; // the fast bands' levels
        Lanes energies; // mean squares of the side filters over about 5 ms (the first two count)
    };
    struct CarrierState {
        FastBands bands;
        SideFilters level; // the last lane counts
    };
    struct States {
        ModulatorState modulator;
        CarrierState carrier;
        SideFilters output; // the bank region: the third lane counts
    };

private:
    States states;
    double amountValue = 0.0;
    // What the stage applies: 1 - (1 - amount)^2, so that the middle of the slider already gives
    // three quarters of the effect, where the measured gain in intelligibility is mostly made.
    double strength = 0.0;
};

} // namespace lumivox::engine
