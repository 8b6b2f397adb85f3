#pragma once

#include "output_level.h"
#include "wave/sample_stores.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace lumivox::job {

// The largest magnitude an output's samples hold, in the engine's units: 32767 for 16-bit, 127
// for 8-bit, 32768 for float (full scale 1.0).
[[nodiscard]] double fullScaleOf(wave::OutputDepth depth);

// Turns the engine's results into the output's samples (8-bit unsigned, 16- or 24-bit signed, or
// 32-bit float, as the carrier decides), counts the results that had to be clamped to full scale
// (for float: that lie beyond it) and follows how loud the output is as it goes.
class OutputEncoder {
public:
    explicit OutputEncoder(wave::OutputDepth depth);

    // Stores the results in bytes and returns how many bytes they took. gain: the Output Gain
    // the results were made with.
    std::size_t encode(std::span<const double> results, double gain, std::uint8_t* bytes);

    [[nodiscard]] std::uint64_t clippedSamples() const { return clipped; }
    [[nodiscard]] const OutputLevel& level() const { return loudness; }

private:
    wave::OutputDepth depth;
    std::uint64_t clipped = 0;
    OutputLevel loudness;
};

} // namespace lumivox::job
