#include "test_wave_bytes.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace lumivox::test {

namespace {

    // The size of the header the program writes: RIFF, WAVE, an 18-byte fmt chunk, data.
    constexpr std::size_t outputHeaderBytes = 46;

    bool hasTag(const Bytes& bytes, std::size_t offset, std::string_view tag)
    {
        return std::equal(
            tag.begin(), tag.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    }

} // namespace

void appendUint16(Bytes& bytes, std::uint32_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void appendUint32(Bytes& bytes, std::uint32_t value)
{
    appendUint16(bytes, value & 0xFFFF);
    appendUint16(bytes, value >> 16);
}

void appendText(Bytes& bytes, std::string_view text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}

void append(Bytes& bytes, const Bytes& more)
{
    bytes.insert(bytes.end(), more.begin(), more.end());
}

std::uint16_t uint16At(const Bytes& bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(
        bytes.at(offset) | (static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8));
}

std::uint32_t uint32At(const Bytes& bytes, std::size_t offset)
{
    return uint16At(bytes, offset)
        | (static_cast<std::uint32_t>(uint16At(bytes, offset + 2)) << 16);
}

Bytes chunk(std::string_view id, const Bytes& payload, std::int64_t declaredSize)
{
    Bytes bytes;
    appendText(bytes, id);
    appendUint32(bytes,
        declaredSize >= 0 ? static_cast<std::uint32_t>(declaredSize)
                          : static_cast<std::uint32_t>(payload.size()));
    append(bytes, payload);
    if (payload.size() % 2 == 1)
        bytes.push_back(0);
    return bytes;
}

Bytes riff(std::string_view formType, std::initializer_list<Bytes> chunks)
{
    Bytes body;
    appendText(body, formType);
    for (const Bytes& each : chunks)
        append(body, each);
    return chunk("RIFF", body);
}

Bytes formatPayload(const WaveShape& shape)
{
    const std::uint32_t bytesPerFrame = shape.channels * (shape.bitsPerSample / 8u);
    Bytes bytes;
    appendUint16(bytes, shape.formatTag);
    appendUint16(bytes, shape.channels);
    appendUint32(bytes, shape.sampleRate);
    appendUint32(bytes, shape.sampleRate * bytesPerFrame);
    appendUint16(bytes, bytesPerFrame);
    appendUint16(bytes, shape.bitsPerSample);
    return bytes;
}

Bytes waveFileBytes(const WaveShape& shape, const Bytes& sampleBytes)
{
    return riff("WAVE", { chunk("fmt ", formatPayload(shape)), chunk("data", sampleBytes) });
}

void writeFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes mp4Bytes()
{
    Bytes bytes;
    appendUint32(bytes, 0x18000000); // the box size, big-endian 24
    appendText(bytes, "ftypM4A ");
    appendUint32(bytes, 0);
    appendText(bytes, "M4A isommp42");
    append(bytes, Bytes(64, 0));
    return bytes;
}

Bytes readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

void writeWaveFile(
    const std::filesystem::path& path, const WaveShape& shape, const Bytes& sampleBytes)
{
    writeFile(path, waveFileBytes(shape, sampleBytes));
}

std::optional<OutputWave> readOutputWave(const std::filesystem::path& path, std::string& problem)
{
    const Bytes bytes = readFile(path);
    if (bytes.size() < outputHeaderBytes) {
        problem = "shorter than the 46-byte header: " + std::to_string(bytes.size()) + " bytes";
        return std::nullopt;
    }
    if (!hasTag(bytes, 0, "RIFF") || !hasTag(bytes, 8, "WAVE") || !hasTag(bytes, 12, "fmt ")
        || !hasTag(bytes, 38, "data")) {
        problem = "the chunk tags are not RIFF/WAVE/fmt /data";
        return std::nullopt;
    }
    OutputWave wave;
    wave.riffSize = uint32At(bytes, 4);
    wave.dataSize = uint32At(bytes, 42);
    const std::size_t padBytes = wave.dataSize & 1u;
    if (bytes.size() != outputHeaderBytes + wave.dataSize + padBytes
        || wave.riffSize != bytes.size() - 8) {
        problem = "sizes not patched: file " + std::to_string(bytes.size()) + ", RIFF "
            + std::to_string(wave.riffSize) + ", data " + std::to_string(wave.dataSize);
        return std::nullopt;
    }
    if (uint32At(bytes, 16) != 18 || uint16At(bytes, 36) != 0) {
        problem = "the fmt chunk is not 18 bytes with no extra bytes";
        return std::nullopt;
    }
    if (padBytes != 0 && bytes.back() != 0) {
        problem = "the pad byte after odd data is not zero";
        return std::nullopt;
    }
    wave.shape.formatTag = uint16At(bytes, 20);
    wave.shape.channels = uint16At(bytes, 22);
    wave.shape.sampleRate = uint32At(bytes, 24);
    wave.shape.bitsPerSample = uint16At(bytes, 34);
    const std::uint32_t bytesPerFrame = wave.shape.channels * (wave.shape.bitsPerSample / 8u);
    if (uint16At(bytes, 32) != bytesPerFrame
        || uint32At(bytes, 28) != wave.shape.sampleRate * bytesPerFrame) {
        problem = "blockAlign or avgBytesPerSec disagree with the format";
        return std::nullopt;
    }
    const auto dataStart = bytes.begin() + static_cast<std::ptrdiff_t>(outputHeaderBytes);
    wave.data.assign(dataStart, dataStart + static_cast<std::ptrdiff_t>(wave.dataSize));
    return wave;
}

std::optional<OutputWave> readOutputWave(const std::filesystem::path& path)
{
    std::string problem;
    return readOutputWave(path, problem);
}

} // namespace lumivox::test
