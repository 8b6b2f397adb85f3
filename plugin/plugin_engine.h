#pragma once

// The vocoder as the plugin runs it: the host's float samples in and out, in pieces no longer
// than a buffer taken once. This is the one place that knows the engine's interface and the
// scales of its samples, so that another engine set-up (another band layout) changes only it.

#include "engine/layout_choice.h"
#include "engine/vocoder_engine.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumivox::plugin {

// The four sliders as a host sets them: positions from 0 to 100, as in the window and the
// command line, with the same defaults. Fractions are kept; values outside are taken as the end
// they pass, and a value that is not a number as 0.
struct SliderPositions {
    float clearance = 0.0F;
    float vagueness = 0.0F;
    float gain = 50.0F; // 50 is a gain of 1.0
    float clarity = 0.0F;
};

class PluginEngine {
public:
    // Frames per call into the engine; a longer run goes through in pieces of this length.
    static constexpr std::size_t pieceFrames = 2048;

    // Builds the bank and takes the buffers; may throw std::bad_alloc. The classic bands are made
    // for no particular rate: like the program's, they move in proportion to the host's.
    explicit PluginEngine(double sampleRate);
    PluginEngine(const PluginEngine&) = delete;
    PluginEngine& operator=(const PluginEngine&) = delete;

    // Takes effect from the next sample, as the window's sliders do during a preview: a slider
    // move is applied at once, without any gliding. Allocates nothing.
    void apply(const SliderPositions& positions);

    // The bands port: 0 (or anything below 0.5, or not a number) the classic bands, 1 (0.5 and
    // up) the speech layout designed at the host's rate. Both banks are built beforehand, so a
    // change allocates nothing; the bank taken up goes on from where it was left.
    void chooseBands(float port);
    [[nodiscard]] engine::LayoutKind bands() const
    {
        return speechChosen ? engine::LayoutKind::Speech : engine::LayoutKind::Classic;
    }

    // A host's float sample x stands for x * 32768 in 16-bit units, as libsndfile and JACK read
    // them. The carrier reaches the engine in those units and the modulator divided by 32767, as
    // the program passes 16-bit samples, so the engine sees the same values as for the 16-bit
    // file. The result is divided by 32768 again and rounded toward zero to a float: a host that
    // stores it as 16 bits by truncation, as the program does, gets the program's samples.
    // Allocates nothing. The buffers may not overlap, except output with one input.
    void process(
        const float* carrier, const float* modulator, float* output, std::size_t frameCount);

    // The frames the output lags the input by.
    static constexpr std::uint32_t latencyFrames = 0;
    [[nodiscard]] double sampleRate() const { return rate; }

private:
    engine::VocoderEngine engine;
    engine::DesignedBands speechBands;
    engine::VocoderEngine speechEngine;
    bool speechChosen = false;
    std::unique_ptr<double[]> carrierValues;
    std::unique_ptr<double[]> modulatorValues;
    std::unique_ptr<double[]> results;
    SliderPositions applied;
    double rate;
};

// Conversions at the plugin's boundary, for the tests as well.
inline constexpr double hostFullScale = 32768.0;
inline constexpr double modulatorFullScale = 32767.0;

// The float nearest v on the side of zero: never farther from zero than v.
float towardZero(double v);

} // namespace lumivox::plugin
