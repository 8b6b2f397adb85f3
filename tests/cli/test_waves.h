#pragma once

#include "test_wave_bytes.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace lumivox::cli::test {

using namespace lumivox::test;

// Test signals as raw little-endian sample bytes (8-, 16- or 24-bit PCM), the same on every run: a
// bright sawtooth chord for a carrier and a tone whose level swells and falls for a modulator.
[[nodiscard]] std::vector<std::uint8_t> carrierSamples(
    std::size_t frameCount, std::uint16_t channels, std::uint16_t bitsPerSample);
[[nodiscard]] std::vector<std::uint8_t> modulatorSamples(
    std::size_t frameCount, std::uint16_t channels, std::uint16_t bitsPerSample);

// carrier.wav and modulator.wav in the folder: 8-bit mono at 44100 Hz, frameCount frames each.
void writeMono8Inputs(const std::filesystem::path& folder, std::size_t frameCount);

} // namespace lumivox::cli::test
