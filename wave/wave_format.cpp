#include "wave_format.h"

#include "little_endian.h"

#include <algorithm>

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

namespace {
    // An extensible record: validBitsPerSample (2 bytes), channelMask (4), then the sub-format.
    constexpr std::size_t validBitsOffset = 18;
    constexpr std::size_t subFormatOffset = 24;
    constexpr std::size_t extensibleRecordBytes = 40;
    // KSDATAFORMAT_SUBTYPE_*: the format tag in the first two bytes, then this fixed tail.
    constexpr std::array<std::uint8_t, 14> subFormatTail { 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71 };
}

std::uint16_t effectiveFormatTag(std::span<const std::uint8_t> chunkBytes)
{
    const WaveFormat format = decodeWaveFormat(chunkBytes);
    if (format.formatTag != extensibleFormatTag)
        return format.formatTag;
    if (chunkBytes.size() < extensibleRecordBytes || format.extraSize < 22
        || !std::equal(
            subFormatTail.begin(), subFormatTail.end(), chunkBytes.begin() + subFormatOffset + 2))
        return 0;
    return loadUint16(&chunkBytes[subFormatOffset]);
}

bool isPcmFormat(std::span<const std::uint8_t> chunkBytes)
{
    const WaveFormat format = decodeWaveFormat(chunkBytes);
    if (format.formatTag == pcmFormatTag)
        return true;
    return format.formatTag == extensibleFormatTag && effectiveFormatTag(chunkBytes) == pcmFormatTag
        && loadUint16(&chunkBytes[validBitsOffset]) == format.bitsPerSample;
}

} // namespace lumivox::wave
