#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lumivox::job {

// Turns the engine's results into the output's samples (8-bit unsigned or 16-bit signed, as the
// carrier's) and counts the results that had to be clamped to full scale.
class OutputEncoder {
public:
    explicit OutputEncoder(int bitsPerSample);

    // Stores the results in bytes and returns how many bytes they took.
    std::size_t encode(std::span<const double> results, std::uint8_t* bytes);

    [[nodiscard]] std::uint64_t clippedSamples() const { return clipped; }

private:
    bool sixteenBit;
    std::uint64_t clipped = 0;
};

} // namespace lumivox::job
