#include "sample_formats.h"

namespace lumivox::job {

void mixToMonoInt16(const std::int16_t* source, std::int16_t* destination, std::uint32_t byteCount)
{
    const std::uint32_t frameCount = byteCount / 4;
    for (std::uint32_t i = 0; i < frameCount; ++i) {
        const int left = source[2 * i];
        const int right = source[2 * i + 1];
        destination[i] = static_cast<std::int16_t>(left / 2 + right / 2);
    }
}

void mixToMonoUInt8(const std::uint8_t* source, std::uint8_t* destination, std::int32_t byteCount)
{
    const std::int32_t frameCount = byteCount / 2;
    for (std::int32_t i = 0; i < frameCount; ++i)
        destination[i] = static_cast<std::uint8_t>((source[2 * i] >> 1) + (source[2 * i + 1] >> 1));
}

} // namespace lumivox::job
