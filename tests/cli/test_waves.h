#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumivox::cli::test {

// The layout of a wave file that a test writes byte by byte (a 16-byte "fmt " chunk).
struct WaveShape {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::uint32_t sampleRate = 44100;
    std::uint16_t bitsPerSample = 16;
};

void writeWaveFile(const std::filesystem::path& path, const WaveShape& shape,
    const std::vector<std::uint8_t>& sampleBytes);

// Test signals as raw little-endian sample bytes, the same on every run: a bright sawtooth chord
// for a carrier and a tone whose level swells and falls for a modulator.
[[nodiscard]] std::vector<std::uint8_t> carrierSamples(
    std::size_t frameCount, std::uint16_t channels, std::uint16_t bitsPerSample);
[[nodiscard]] std::vector<std::uint8_t> modulatorSamples(
    std::size_t frameCount, std::uint16_t channels, std::uint16_t bitsPerSample);

// A file the program wrote, checked against the exact layout of its output: "RIFF" of form
// "WAVE", an 18-byte "fmt " chunk, a "data" chunk, sizes patched and a zero pad after odd data.
struct OutputWave {
    WaveShape shape;
    std::vector<std::uint8_t> samples;
};

[[nodiscard]] std::optional<OutputWave> readOutputWave(
    const std::filesystem::path& path, std::string& problem);

[[nodiscard]] std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);

} // namespace lumivox::cli::test
