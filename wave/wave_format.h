#pragma once

#include <cstdint>

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

} // namespace lumivox::wave
