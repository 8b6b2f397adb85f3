#pragma once

#include "band_design.h"

#include <array>
#include <cstddef>

namespace lumivox::engine {

enum class VectorUnit; // block_path.h
class BandLayout; // band_layout.h

// Where the Clarity stage works for a layout, in Hz at the rate its filters are designed for.
struct ClarityDesign {
    double rate = 44100.0;
    // The span of the four fast bands, from the lowest one's lower edge to the highest one's upper
    // edge; empty (high not above low) when the layout has no bands slow enough to need them.
    double fastLowHz = 100.0;
    double fastHighHz = 500.0;
    double regionHz = 300.0; // the edge of the low-pass that takes the bank's lowest region away
    double hissHz = 2000.0; // the edge of the hiss band's high-pass
    double voicedHz = 800.0; // the edge of the voiced band's low-pass
    // The passed hiss stands to the carrier's mean level a quarter as high as the vocoded sound
    // of a full-band carrier stands to its modulator: enough to be heard, not enough to mask.
    double hissWeight = 2.0;

    bool hasFastBands() const { return fastHighHz > fastLowHz; }
    // The four fast bands' edges, lowest first, spaced over the span as the classic ones are.
    std::array<BandEdges, 4> fastBands() const;
};

// A bank band narrower than this follows a voice tens of milliseconds late.
inline constexpr double claritySlowBandHz = 100.0;

// The stage's design for a layout: its filters at the layout's design rate, the fast bands over
// the span of the layout's slow bands from 100 Hz up (when they span an octave at least), the
// bank's region taken away up to 0.6 of the span's top, the hiss split at 2 kHz and the voiced
// band at 800 Hz. The classic layout's design is the one the stage has always had: fast bands
// from 100 to 500 Hz (over its bands 8 to 14), the region up to 300 Hz, all at 44100 Hz and moving
// with the rate as the classic bands do.
ClarityDesign clarityDesignFor(const BandLayout& layout);

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
    ClarityStage(); // for the classic layout
    // For a layout's bands, designed at its rate; the classic layout gets the stage's constant
    // coefficients, so that its sound never depends on the maths library.
    explicit ClarityStage(const BandLayout& layout);

    // Clamped to [0, 1]. Turning it up from 0 restarts the stage in zero state, so that it fades
    // in instead of carrying filter state from before into the sound.
    void setAmount(double amount);
    double amount() const { return amountValue; }
    // What the stage applies of its effect, from the amount (see strength below).
    double strengthApplied() const { return strength; }

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

    // The filters' coefficients, lane by lane as the states.
    struct Coefficients {
        Lanes fastGain; // the fast bands' input gains (their numerators are 1 - z^-2)
        Lanes fastA1[2], fastA2[2]; // their two sections' a1 and a2
        Lanes sideGain, sideB1, sideB2, sideA1, sideA2; // the side filters (see SideFilters)
        double envelopeRate; // the fast bands' followers, per sample
        double energyRate; // the side filters' energies, per sample
        double hissWeight; // the passed hiss's weight against the carrier's level
    };
    // The coefficients for a design, worked out with the maths library.
    static Coefficients designCoefficients(const ClarityDesign& design);
    const Coefficients& coefficients() const { return coefficientValues; }
    const ClarityDesign& design() const { return designValue; }

private:
    ClarityDesign designValue;
    Coefficients coefficientValues;
    States states;
    double amountValue = 0.0;
    // What the stage applies: 1 - (1 - amount)^2, so that the middle of the slider already gives
    // three quarters of the effect, where the measured gain in intelligibility is mostly made.
    double strength = 0.0;
};

} // namespace lumivox::engine
