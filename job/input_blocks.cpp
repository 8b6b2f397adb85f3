#include "input_blocks.h"

#include "carrier_supply.h"

#include <algorithm>

namespace lumivox::job {

InputBlocks::InputBlocks(InputSource& carrierInput, InputSource& modulatorInput, int frames)
    : carrier(carrierInput)
    , modulator(modulatorInput)
    , blockFrames(static_cast<std::size_t>(std::clamp(frames, 1, maxFrames)))
    , total(std::min(carrierInput.frameCount(), modulatorInput.frameCount()))
{
}

InputBlocks::InputBlocks(InputSource& carrierInput, InputSource& modulatorInput, int frames,
    ModulatorListener& carrierListener)
    : InputBlocks(carrierInput, modulatorInput, frames)
{
    listener = &carrierListener;
    if (listener->listensAhead())
        ahead.resize(blockFrames);
}

std::int64_t InputBlocks::readCarrier(std::span<double> values)
{
    std::size_t filled = 0;
    while (filled < values.size()) {
        const std::int64_t framesRead = carrier.read(values.subspan(filled));
        if (framesRead < 0) {
            if (filled == 0)
                return -1;
            carrierFailed = true;
            break;
        }
        if (framesRead == 0)
            break;
        filled += static_cast<std::size_t>(framesRead);
    }
    return static_cast<std::int64_t>(filled);
}

InputBlocks::Result InputBlocks::readListened(
    std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount)
{
    frameCount = 0;
    if (carrierFailed)
        return Result::CarrierFailed;
    if (lastBlock)
        return Result::End;
    std::int64_t modulatorRead = 0;
    if (!listener->listensAhead()) {
        modulatorRead = modulator.read(modulatorValues.first(blockFrames));
        if (modulatorRead < 0)
            return Result::ModulatorFailed;
        if (modulatorRead == 0)
            return Result::End;
        listener->listen(modulatorValues.first(static_cast<std::size_t>(modulatorRead)));
    } else {
        // The carrier hears each block one block before it is read for it.
        if (!primed) {
            primed = true;
            aheadFrames = modulator.read(ahead);
            if (aheadFrames < 0)
                return Result::ModulatorFailed;
            listener->listen(
                std::span<const double>(ahead).first(static_cast<std::size_t>(aheadFrames)));
        }
        if (aheadFrames == 0)
            return Result::End;
        modulatorRead = aheadFrames;
        std::copy_n(ahead.begin(), modulatorRead, modulatorValues.begin());
        aheadFrames = modulator.read(ahead);
        if (aheadFrames < 0)
            return Result::ModulatorFailed;
        listener->listen(
            std::span<const double>(ahead).first(static_cast<std::size_t>(aheadFrames)));
    }
    const std::int64_t carrierRead
        = readCarrier(carrierValues.first(static_cast<std::size_t>(modulatorRead)));
    if (carrierRead < 0)
        return Result::CarrierFailed;
    if (carrierRead == 0)
        return Result::End;
    if (carrierRead < modulatorRead && !carrierFailed)
        lastBlock = true;
    taken += static_cast<std::uint64_t>(carrierRead);
    frameCount = static_cast<int>(carrierRead);
    return Result::Block;
}

InputBlocks::Result InputBlocks::read(
    std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount)
{
    if (listener != nullptr)
        return readListened(carrierValues, modulatorValues, frameCount);
    frameCount = 0;
    // A failed read is not an end: the run fails, with the output finished as far as it went.
    const std::int64_t modulatorRead = modulator.read(modulatorValues.first(blockFrames));
    if (modulatorRead < 0)
        return Result::ModulatorFailed;
    if (modulatorRead == 0 || lastBlock)
        return Result::End;
    // The carrier broke off within the last block, before the modulator's end.
    if (carrierFailed)
        return Result::CarrierFailed;
    const std::int64_t carrierRead = readCarrier(carrierValues.first(blockFrames));
    if (carrierRead < 0)
        return Result::CarrierFailed;
    if (carrierRead == 0)
        return Result::End;
    std::int64_t length = modulatorRead;
    if (carrierRead < modulatorRead) {
        length = carrierRead;
        lastBlock = !carrierFailed;
    }
    taken += static_cast<std::uint64_t>(length);
    frameCount = static_cast<int>(length);
    return Result::Block;
}

} // namespace lumivox::job
