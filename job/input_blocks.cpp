#include "input_blocks.h"

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
    : carrier(carrierInput)
    , modulator(modulatorInput)
    , carrierBytes(carrierBuffer)
    , modulatorBytes(modulatorBuffer)
    , wide(carrierInput.format.bitsPerSample != 8)
    , total(std::min(carrierInput.monoByteCount(), modulatorInput.monoByteCount()))
{
}

InputBlocks::Result InputBlocks::read(
    std::span<double> carrierValues, std::span<double> modulatorValues, int& frameCount)
{
    frameCount = 0;
    // A failed read is not an end: the run fails, with the output finished as far as it went.
    const std::int64_t modulatorRead = readMonoBlock(modulator, modulatorBytes, wide);
    if (modulatorRead < 0)
        return Result::ModulatorFailed;
    if (modulatorRead == 0 || lastBlock)
        return Result::End;
    const std::int64_t carrierRead = readMonoBlock(carrier, carrierBytes, wide);
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
