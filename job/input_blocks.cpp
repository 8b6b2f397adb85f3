#include "input_blocks.h"

#include <algorithm>

namespace lumivox::job {

InputBlocks::InputBlocks(InputSource& carrierInput, InputSource& modulatorInput, int frames)
    : carrier(carrierInput)
    , modulator(modulatorInput)
    , blockFrames(static_cast<std::size_t>(std::clamp(frames, 1, maxFrames)))
    , total(std::min(carrierInput.frameCount(), modulatorInput.frameCount()))
{
}

InputBlocks::Result InputBlocks::read(
    std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount)
{
    frameCount = 0;
    // A failed read is not an end: the run fails, with the output finished as far as it went.
    const std::int64_t modulatorRead = modulator.read(modulatorValues.first(blockFrames));
    if (modulatorRead < 0)
        return Result::ModulatorFailed;
    if (modulatorRead == 0 || lastBlock)
        return Result::End;
    const std::int64_t carrierRead = carrier.read(carrierValues.first(blockFrames));
    if (carrierRead < 0)
        return Result::CarrierFailed;
    if (carrierRead == 0)
        return Result::End;
    std::int64_t length = modulatorRead;
    if (carrierRead < modulatorRead) {
        length = carrierRead;
        lastBlock = true;
    }
    taken += static_cast<std::uint64_t>(length);
    frameCount = static_cast<int>(length);
    return Result::Block;
}

} // namespace lumivox::job
