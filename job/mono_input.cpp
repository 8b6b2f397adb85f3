#include "mono_input.h"

#include "sample_formats.h"

#include <algorithm>

namespace lumivox::job {

namespace {
    std::int64_t readBytes(MonoInput& input, void* buffer, std::size_t byteCount)
    {
        if (input.readBytes)
            return input.readBytes(*input.reader, buffer, byteCount);
        return wave::readWave(*input.reader, buffer, byteCount);
    }
}

std::int64_t readMonoBlock(
    MonoInput& input, std::uint8_t* block, bool sixteenBit, std::size_t monoBytes)
{
    monoBytes = std::min(monoBytes, monoBlockBytes);
    if (input.isMono())
        return readBytes(input, block, monoBytes);

    const std::int64_t bytesRead = readBytes(input, input.interleaved.get(), 2 * monoBytes);
    if (bytesRead <= 0)
        return bytesRead;
    if (sixteenBit) {
        mixToMonoInt16(reinterpret_cast<const std::int16_t*>(input.interleaved.get()),
            reinterpret_cast<std::int16_t*>(block), static_cast<std::uint32_t>(bytesRead));
    } else {
        mixToMonoUInt8(input.interleaved.get(), block, static_cast<std::int32_t>(bytesRead));
    }
    return bytesRead / 2;
}

} // namespace lumivox::job
