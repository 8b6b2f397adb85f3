#pragma once

#include "input_source.h"
#include "mono_input.h"

#include <cstdint>
#include <span>
#include <vector>

namespace lumivox::job {

class ModulatorListener;

// Reads the two inputs a block at a time, the modulator first, as the engine's values (see
// InputSource). The run ends with the shorter input: its short block is the last one.
class InputBlocks {
public:
    // The most frames one block holds (a full block of 8-bit samples).
    static constexpr int maxFrames = static_cast<int>(monoBlockBytes);

    enum class Result { Block, End, CarrierFailed, ModulatorFailed };

    // Blocks of blockFrames frames (at most maxFrames); both inputs at the same rate.
    InputBlocks(InputSource& carrier, InputSource& modulator, int blockFrames);
    // The carrier hears each modulator block through listener before it is read (a block ahead
    // when it asks to); it is read for exactly the modulator's frames. May throw std::bad_alloc.
    InputBlocks(
        InputSource& carrier, InputSource& modulator, int blockFrames, ModulatorListener& listener);

    // Fills the spans (blockFrames each at least) with the next block and sets frameCount. After
    // a failure the failed input's failureCause() says why.
    [[nodiscard]] Result read(
        std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount);

    // The shorter input's declared length, and how much of it the blocks so far took, in frames;
    // reads may run past a declared length.
    [[nodiscard]] std::uint64_t totalFrames() const { return total; }
    [[nodiscard]] std::uint64_t framesTaken() const { return taken; }

private:
    [[nodiscard]] Result readListened(
        std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount);
    // Reads the carrier until values is full, it ends or it fails; a failure after some frames
    // is kept for the next block, so that those frames are used first.
    [[nodiscard]] std::int64_t readCarrier(std::span<double> values);

    InputSource& carrier;
    InputSource& modulator;
    std::size_t blockFrames;
    std::uint64_t total;
    std::uint64_t taken = 0;
    bool lastBlock = false;
    // The carrier failed after the frames of the last block: the run fails with the next one.
    bool carrierFailed = false;
    ModulatorListener* listener = nullptr;
    // For a listener that hears ahead: the modulator block read ahead of the one being given.
    std::vector<double> ahead;
    std::int64_t aheadFrames = 0;
    bool primed = false;
};

} // namespace lumivox::job
