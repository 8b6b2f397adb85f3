#pragma once

#include "wave/sample_stores.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace lumivox::job {

// Turns the engine's results into the output's samples (8-bit unsigned, 16- or 24-bit signed, or
// 32-bit float, as the carrier decides) and counts the results that had to be clamped to full
// scale, or for float lie beyond it.
class OutputEncoder {
public:
    explicit OutputEncoder(wave::OutputDepth depth);

    // Stores the results in bytes and returns how many bytes they took.
    std::size_t encode(std::span<const double> results, std::uint8_t* bytes);

    [[nodiscard]] std::uint64_t clippedSamples() const { return clipped; }

private:
    wave::OutputDepth depth;
    std::uint64_t clipped = 0;
};

} // namespace lumivox::job
