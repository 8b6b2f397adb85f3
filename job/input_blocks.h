#pragma once

#include "input_source.h"
#include "mono_input.h"

#include <cstdint>
#include <span>

namespace lumivox::job {

// Reads the two inputs a block at a time, the modulator first, as the engine's values (see
// InputSource). The run ends with the shorter input: its short block is the last one.
class InputBlocks {
public:
    // The most frames one block holds (a full block of 8-bit samples).
    static constexpr int maxFrames = static_cast<int>(monoBlockBytes);

    enum class Result { Block, End, CarrierFailed, ModulatorFailed };

    // Blocks of blockFrames frames (at most maxFrames); both inputs at the same rate.
    InputBlocks(InputSource& carrier, InputSource& modulator, int blockFrames);

    // Fills the spans (blockFrames each at least) with the next block and sets frameCount. After
    // a failure the failed input's failureCause() says why.
    [[nodiscard]] Result read(
        std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount);

    // The shorter input's declared length, and how much of it the blocks so far took, in frames;
    // reads may run past a declared length.
    [[nodiscard]] std::uint64_t totalFrames() const { return total; }
    [[nodiscard]] std::uint64_t framesTaken() const { return taken; }

private:
    InputSource& carrier;
    InputSource& modulator;
    std::size_t blockFrames;
    std::uint64_t total;
    std::uint64_t taken = 0;
    bool lastBlock = false;
};

} // namespace lumivox::job
