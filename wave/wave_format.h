#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumivox::wave {

// The "fmt " chunk record of a wave file, fields in file order (little-endian on disk).
struct WaveFormat {
    std::uint16_t formatTag = 0; // 1 = PCM
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0; // 0 when the chunk stops after bitsPerSample (16-byte chunk)
};

inline constexpr std::uint16_t pcmFormatTag = 1;
inline constexpr std::uint16_t floatFormatTag = 3;
// The record carries its real encoding in a sub-format GUID after the extra bytes.
inline constexpr std::uint16_t extensibleFormatTag = 0xFFFE;

// Sizes of the record on disk: without extraSize (the minimal PCM chunk), with it, and the largest
// a record can be (extraSize at its maximum, with that many extra bytes).
inline constexpr std::size_t minimalFormatBytes = 16;
inline constexpr std::size_t formatRecordBytes = 18;
inline constexpr std::size_t largestFormatBytes = formatRecordBytes + 65535;

// The record as the first 18 bytes of a fmt chunk (extra bytes not included).
[[nodiscard]] std::array<std::uint8_t, formatRecordBytes> encodeWaveFormat(
    const WaveFormat& format);

// The encoding a fmt chunk names: its formatTag, or for an extensible record the tag inside its
// sub-format GUID (0 when the GUID is not one of the standard tag-based ones or is cut off).
[[nodiscard]] std::uint16_t effectiveFormatTag(std::span<const std::uint8_t> chunkBytes);

// True for plain PCM, and for an extensible PCM record whose valid bits fill its samples, which
// reads exactly like plain PCM.
[[nodiscard]] bool isPcmFormat(std::span<const std::uint8_t> chunkBytes);

// The record from the bytes of a fmt chunk: all zero for fewer than 16 bytes, extraSize 0 for
// fewer than 18.
[[nodiscard]] WaveFormat decodeWaveFormat(std::span<const std::uint8_t> chunkBytes);

} // namespace lumivox::wave
