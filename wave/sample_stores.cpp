#include "sample_stores.h"

namespace lumivox::wave {

OutputDepth outputDepthFor(SampleEncoding encoding, int bitsPerSample)
{
    switch (encoding) {
    case SampleEncoding::Float:
        return OutputDepth::Float32;
    case SampleEncoding::Lossy:
        return OutputDepth::Int16;
    case SampleEncoding::Integer:
        break;
    }
    if (bitsPerSample <= 8)
        return OutputDepth::UInt8;
    return bitsPerSample <= 16 ? OutputDepth::Int16 : OutputDepth::Int24;
}

int bytesPerSample(OutputDepth depth)
{
    switch (depth) {
    case OutputDepth::UInt8:
        return 1;
    case OutputDepth::Int16:
        return 2;
    case OutputDepth::Int24:
        return 3;
    case OutputDepth::Float32:
        return 4;
    }
    return 2;
}

WaveFormat monoWaveFormat(OutputDepth depth, std::uint32_t sampleRate)
{
    const auto bytes = static_cast<std::uint16_t>(bytesPerSample(depth));
    WaveFormat format;
    format.formatTag = depth == OutputDepth::Float32 ? floatFormatTag : pcmFormatTag;
    format.channels = 1;
    format.sampleRate = sampleRate;
    format.bitsPerSample = static_cast<std::uint16_t>(8 * bytes);
    format.blockAlign = bytes;
    format.avgBytesPerSec = sampleRate * bytes;
    format.extraSize = 0;
    return format;
}

namespace {

    // Stores each result with store, width bytes apart; how many store said it limited.
    template <bool (*store)(double, std::uint8_t*), std::size_t width>
    std::size_t storeBlock(std::span<const double> results, std::uint8_t* bytes)
    {
        std::size_t limitedCount = 0;
        for (const double y : results) {
            limitedCount += store(y, bytes) ? 1 : 0;
            bytes += width;
        }
        return limitedCount;
    }

} // namespace

std::size_t storeBlockInt24(std::span<const double> results, std::uint8_t* bytes)
{
    return storeBlock<storeInt24, 3>(results, bytes);
}

std::size_t storeBlockFloat32(std::span<const double> results, std::uint8_t* bytes)
{
    return storeBlock<storeFloat32, 4>(results, bytes);
}

} // namespace lumivox::wave
