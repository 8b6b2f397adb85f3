#pragma once

#include "sound_file.h"
#include "wave_format.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace lumivox::wave {

// How an output's samples are stored, chosen by its carrier.
enum class OutputDepth {
    UInt8, // an 8-bit carrier
    Int16, // a 16-bit or narrower integer carrier, and every lossy one
    Int24, // an integer carrier wider than 16 bits
    Float32, // a float carrier
};

// The depth an output made from this carrier is stored at.
[[nodiscard]] OutputDepth outputDepthFor(SampleEncoding encoding, int bitsPerSample);

[[nodiscard]] int bytesPerSample(OutputDepth depth);

// A mono wave format record for an output at this depth and rate: PCM, or IEEE float (tag 3).
[[nodiscard]] WaveFormat monoWaveFormat(OutputDepth depth, std::uint32_t sampleRate);

// A result in 16-bit units stored as 24-bit PCM: times 256, rounded half away from zero, clamped
// to +-8388607 as the 16-bit output never holds -32768 either. True when it had to be clamped.
inline bool storeInt24(double y, std::uint8_t* bytes)
{
    constexpr double limit = 8388607.0;
    double value = std::round(y * 256.0);
    bool clamped = false;
    if (value > limit) {
        value = limit;
        clamped = true;
    } else if (value < -limit) {
        value = -limit;
        clamped = true;
    } else if (std::isnan(value)) {
        value = 0.0;
    }
    const auto sample = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
    bytes[0] = static_cast<std::uint8_t>(sample);
    bytes[1] = static_cast<std::uint8_t>(sample >> 8);
    bytes[2] = static_cast<std::uint8_t>(sample >> 16);
    return clamped;
}

// A result in 16-bit units stored as a 32-bit float, full scale 1.0 and not clamped. True when it
// lies beyond full scale, which the clip warning counts all the same.
inline bool storeFloat32(double y, std::uint8_t* bytes)
{
    const auto value = static_cast<float>(y / 32768.0);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return y > 32768.0 || y < -32768.0;
}

// Whole blocks of results stored at a wider depth: bytes holds 3 or 4 bytes per result. Each
// returns how many results were clamped or lie beyond full scale.
std::size_t storeBlockInt24(std::span<const double> results, std::uint8_t* bytes);
std::size_t storeBlockFloat32(std::span<const double> results, std::uint8_t* bytes);

} // namespace lumivox::wave
