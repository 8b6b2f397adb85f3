#pragma once

// Wave files for the tests, built byte by byte independently of the code under test, and a strict
// reader of the files the program writes.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivox::test {

using Bytes = std::vector<std::uint8_t>;

void appendUint16(Bytes& bytes, std::uint32_t value);
void appendUint32(Bytes& bytes, std::uint32_t value);
void appendText(Bytes& bytes, std::string_view text);
// The start of an MP4 (AAC) file: an ftyp box of brand M4A, then zeros.
Bytes mp4Bytes();
void append(Bytes& bytes, const Bytes& more);

[[nodiscard]] std::uint16_t uint16At(const Bytes& bytes, std::size_t offset);
[[nodiscard]] std::uint32_t uint32At(const Bytes& bytes, std::size_t offset);

// A chunk with its header, its payload and a pad byte after an odd payload. The declared size is
// the payload's unless one is given.
[[nodiscard]] Bytes chunk(
    std::string_view id, const Bytes& payload, std::int64_t declaredSize = -1);

// A RIFF chunk of the given form type around the given chunks, its size counting them all.
[[nodiscard]] Bytes riff(std::string_view formType, std::initializer_list<Bytes> chunks);

// The fields of a 16-byte "fmt " chunk that a test chooses; the rest follow from them.
struct WaveShape {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::uint32_t sampleRate = 44100;
    std::uint16_t bitsPerSample = 16;
};

// The 16-byte "fmt " payload for the shape.
[[nodiscard]] Bytes formatPayload(const WaveShape& shape);

// A 44-byte-header wave file ("fmt " of 16 bytes, then "data") around the given sample bytes.
[[nodiscard]] Bytes waveFileBytes(const WaveShape& shape, const Bytes& sampleBytes);

void writeFile(const std::filesystem::path& path, const Bytes& bytes);
[[nodiscard]] Bytes readFile(const std::filesystem::path& path);

void writeWaveFile(
    const std::filesystem::path& path, const WaveShape& shape, const Bytes& sampleBytes);

// A file the program wrote, checked against the exact layout of its output: "RIFF" of form
// "WAVE", an 18-byte "fmt " chunk with no extra bytes, a "data" chunk, sizes patched to the file
// and a zero pad after odd data.
struct OutputWave {
    WaveShape shape;
    std::uint32_t riffSize = 0;
    std::uint32_t dataSize = 0;
    Bytes data;
};

// Empty when the file is not laid out as above; problem then says how.
[[nodiscard]] std::optional<OutputWave> readOutputWave(
    const std::filesystem::path& path, std::string& problem);
[[nodiscard]] std::optional<OutputWave> readOutputWave(const std::filesystem::path& path);

} // namespace lumivox::test
