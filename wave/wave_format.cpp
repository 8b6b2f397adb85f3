#include "wave_format.h"

#include "little_endian.h"

namespace lumivox::wave {

std::array<std::uint8_t, formatRecordBytes> encodeWaveFormat(const WaveFormat& format)
{
    std::array<std::uint8_t, formatRecordBytes> bytes {};
    storeUint16(&bytes[0], format.formatTag);
    storeUint16(&bytes[2], format.channels);
    storeUint32(&bytes[4], format.sampleRate);
    storeUint32(&bytes[8], format.avgBytesPerSec);
    storeUint16(&bytes[12], format.blockAlign);
    storeUint16(&bytes[14], format.bitsPerSample);
    storeUint16(&bytes[16], format.extraSize);
    return bytes;
}

WaveFormat decodeWaveFormat(std::span<const std::uint8_t> chunkBytes)
{
    WaveFormat format;
    if (chunkBytes.size() >= minimalFormatBytes) {
        format.formatTag = loadUint16(&chunkBytes[0]);
        format.channels = loadUint16(&chunkBytes[2]);
        format.sampleRate = loadUint32(&chunkBytes[4]);
        format.avgBytesPerSec = loadUint32(&chunkBytes[8]);
        format.blockAlign = loadUint16(&chunkBytes[12]);
        format.bitsPerSample = loadUint16(&chunkBytes[14]);
    }
    if (chunkBytes.size() >= formatRecordBytes)
        format.extraSize = loadUint16(&chunkBytes[16]);
    return format;
}

} // namespace lumivox::wave
