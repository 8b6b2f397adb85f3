#pragma once

// Inputs and comparisons shared by the engine's block-path and two-thread tests.
#include "layout_choice.h"
#include "vocoder_engine.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace lumivox::engine::testing {

inline constexpr std::size_t sampleRate = 44100;

struct Signals {
    std::vector<double> carrier; // in 16-bit sample units
    std::vector<double> modulator; // normalised to about +-1
};

// A detuned sawtooth chord for the carrier and a voiced, formant-swept buzz with noisy bursts and
// pauses for the modulator: material with the level changes a vocoder is used for.
Signals musicalSignals(std::size_t frameCount);

// Full-scale 16-bit noise on both inputs.
Signals randomSignals(std::size_t frameCount, unsigned seed);

struct Settings {
    double vagueness;
    double clearance;
    double gain;
    double clarity = 0.0;
    int harmonicBlur = 0; // the harmonic bands' blur radius (0 for none)
};

void apply(VocoderEngine& engine, const Settings& settings);

// Slider positions that change from block to block, as a preview moves them: every fifth block at
// the defaults, and never a gain of 0.
Settings settingsForBlock(std::size_t block);

// The bands a choice makes at a rate; a choice refused fails the test and gives the classic ones.
BandLayout designedLayout(const LayoutChoice& choice, double rate);

// A layout choice at a recording's rate, named for the rows of a parameterised test.
struct LayoutAtRate {
    std::string name;
    LayoutChoice choice;
    double rate;
};

inline std::ostream& operator<<(std::ostream& out, const LayoutAtRate& c) { return out << c.name; }

// Counts outputs whose bits differ, so -0.0 against 0.0 counts too; reports the first.
std::size_t differingSamples(const std::vector<double>& want, const std::vector<double>& got);

} // namespace lumivox::engine::testing
