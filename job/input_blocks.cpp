#include "input_blocks.h"

#include "carrier_supply.h"
#include "sample_formats.h"

#include <algorithm>

namespace lumivox::job {

namespace {

    template <typename Encoding>
    void toEngineValues(const std::uint8_t* carrierBytes, const std::uint8_t* modulatorBytes,
        int frameCount, double* carrierValues, double* modulatorValues)
    {
        const auto* carrier = reinterpret_cast<const typename Encoding::Sample*>(carrierBytes);
        const auto* modulator = reinterpret_cast<const typename Encoding::Sample*>(modulatorBytes);
        for (int i = 0; i < frameCount; ++i) {
            carrierValues[i] = Encoding::carrier(carrier[i]);
            modulatorValues[i] = Encoding::modulator(modulator[i]);
        }
    }

} // namespace

InputBlocks::InputBlocks(MonoInput& carrierInput, MonoInput& modulatorInput,
    std::uint8_t* carrierBuffer, std::uint8_t* modulatorBuffer)
    : carrier(&carrierInput)
    , modulator(modulatorInput)
    , carrierBytes(carrierBuffer)
    , modulatorBytes(modulatorBuffer)
    , wide(carrierInput.format.bitsPerSample != 8)
    , modulatorWide(wide)
    , total(std::min(carrierInput.monoByteCount(), modulatorInput.monoByteCount()))
{
}

InputBlocks::InputBlocks(
    MonoInput& modulatorInput, std::uint8_t* modulatorBuffer, CarrierSupply& carrierSupply)
    : modulator(modulatorInput)
    , modulatorBytes(modulatorBuffer)
    , supply(&carrierSupply)
    , wide(modulatorInput.format.bitsPerSample != 8)
    , modulatorWide(wide)
    , total(modulatorInput.monoByteCount())
{
    if (supply->listensAhead())
        ahead.resize(maxFrames);
}

bool InputBlocks::readModulator(std::span<double> values, int& frameCount, Result& result)
{
    frameCount = 0;
    const std::int64_t bytesRead = readMonoBlock(modulator, modulatorBytes, modulatorWide);
    if (bytesRead <= 0) {
        result = bytesRead < 0 ? Result::ModulatorFailed : Result::End;
        return false;
    }
    frameCount = static_cast<int>(modulatorWide ? bytesRead / 2 : bytesRead);
    if (frameCount == 0) { // a lone odd byte at the end of 16-bit samples
        result = Result::End;
        return false;
    }
    if (modulatorWide) {
        const auto* samples = reinterpret_cast<const std::int16_t*>(modulatorBytes);
        for (int i = 0; i < frameCount; ++i)
            values[static_cast<std::size_t>(i)] = encoding::Int16::modulator(samples[i]);
    } else {
        for (int i = 0; i < frameCount; ++i)
            values[static_cast<std::size_t>(i)] = encoding::UInt8::modulator(modulatorBytes[i]);
    }
    return true;
}

InputBlocks::Result InputBlocks::readSupplied(
    std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount)
{
    frameCount = 0;
    if (lastBlock)
        return Result::End;
    Result why = Result::End;
    if (!supply->listensAhead()) {
        if (!readModulator(modulatorValues, frameCount, why))
            return why;
        supply->listen(modulatorValues.first(static_cast<std::size_t>(frameCount)));
    } else {
        // The sound hears each block one block before it renders the carrier for it.
        if (!primed) {
            primed = true;
            if (readModulator(ahead, aheadFrames, why))
                supply->listen(
                    std::span<const double>(ahead).first(static_cast<std::size_t>(aheadFrames)));
            else if (why == Result::ModulatorFailed)
                return why;
        }
        if (aheadFrames == 0)
            return Result::End;
        frameCount = aheadFrames;
        std::copy_n(ahead.begin(), frameCount, modulatorValues.begin());
        if (readModulator(ahead, aheadFrames, why))
            supply->listen(
                std::span<const double>(ahead).first(static_cast<std::size_t>(aheadFrames)));
        else if (why == Result::ModulatorFailed)
            return why;
    }

    std::size_t count = 0;
    switch (supply->fill(carrierValues.first(static_cast<std::size_t>(frameCount)), count)) {
    case CarrierSupply::Result::Filled:
        break;
    case CarrierSupply::Result::Ended:
        // Only a carrier with no samples at all ends a repeat; the run ends with it.
        frameCount = static_cast<int>(count);
        lastBlock = true;
        if (count == 0)
            return Result::End;
        break;
    case CarrierSupply::Result::ReadFailed:
        return Result::CarrierFailed;
    case CarrierSupply::Result::ReopenFailed:
        return Result::CarrierReopenFailed;
    }
    taken += static_cast<std::uint64_t>(modulatorWide ? 2 * frameCount : frameCount);
    return Result::Block;
}

InputBlocks::Result InputBlocks::read(
    std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount)
{
    if (supply != nullptr)
        return readSupplied(carrierValues, modulatorValues, frameCount);
    frameCount = 0;
    // A failed read is not an end: the run fails, with the output finished as far as it went.
    const std::int64_t modulatorRead = readMonoBlock(modulator, modulatorBytes, wide);
    if (modulatorRead < 0)
        return Result::ModulatorFailed;
    if (modulatorRead == 0 || lastBlock)
        return Result::End;
    const std::int64_t carrierRead = readMonoBlock(*carrier, carrierBytes, wide);
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

    // Whole samples only: an odd byte at the end of a 16-bit block is dropped.
    frameCount = static_cast<int>(wide ? length / 2 : length);
    if (wide)
        toEngineValues<encoding::Int16>(
            carrierBytes, modulatorBytes, frameCount, carrierValues.data(), modulatorValues.data());
    else
        toEngineValues<encoding::UInt8>(
            carrierBytes, modulatorBytes, frameCount, carrierValues.data(), modulatorValues.data());
    return Result::Block;
}

} // namespace lumivox::job
