#pragma once

#include "mono_input.h"

#include <cstdint>
#include <span>
#include <vector>

namespace lumivox::job {

class CarrierSupply;

// Reads the two inputs a block at a time, the modulator first, and turns their samples into the
// engine's values: the carrier in its sample units, the modulator normalised. The run ends with
// the shorter input: its short block is the last one.
class InputBlocks {
public:
    // The most frames one block holds (a full block of 8-bit samples).
    static constexpr int maxFrames = static_cast<int>(monoBlockBytes);

    enum class Result { Block, End, CarrierFailed, CarrierReopenFailed, ModulatorFailed };

    // The byte buffers are the inputs' block buffers (blockBufferBytes each); the inputs must
    // share their sample depth.
    InputBlocks(MonoInput& carrier, MonoInput& modulator, std::uint8_t* carrierBytes,
        std::uint8_t* modulatorBytes);
    // The carrier comes from supply instead (a built-in sound or the carrier file repeated): the
    // modulator alone sets the length, and its depth may differ from the carrier's.
    InputBlocks(MonoInput& modulator, std::uint8_t* modulatorBytes, CarrierSupply& supply);

    // Fills the spans (maxFrames each) with the next block and sets frameCount. A failed read
    // leaves errno as the reader left it.
    [[nodiscard]] Result read(
        std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount);

    // The shorter input's declared length, and how much of it the blocks so far took, in mono
    // bytes; reads may run past a declared length.
    [[nodiscard]] std::uint64_t totalBytes() const { return total; }
    [[nodiscard]] std::uint64_t bytesTaken() const { return taken; }
    [[nodiscard]] std::uint64_t totalFrames() const { return modulatorWide ? total / 2 : total; }

private:
    // The modulator's next block in the engine's values; false with the result when there is none.
    [[nodiscard]] bool readModulator(std::span<double> values, int& frameCount, Result& result);
    [[nodiscard]] Result readSupplied(
        std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount);

    MonoInput* carrier = nullptr;
    MonoInput& modulator;
    std::uint8_t* carrierBytes = nullptr;
    std::uint8_t* modulatorBytes;
    CarrierSupply* supply = nullptr;
    bool wide;
    bool modulatorWide;
    std::uint64_t total;
    std::uint64_t taken = 0;
    bool lastBlock = false;
    // For a supply that listens ahead: the modulator block read ahead of the one being given.
    std::vector<double> ahead;
    int aheadFrames = 0;
    bool primed = false;
};

} // namespace lumivox::job
