#pragma once

// Wave files for the job's tests, built byte by byte, and a plain reader for the job's output.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace lumivox::job::test {

struct PcmLayout {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::uint32_t sampleRate = 44100;
    std::uint16_t bitsPerSample = 16;
};

inline void appendU16(std::vector<std::uint8_t>& bytes, std::uint32_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value & 0xff));
    bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xff));
}

inline void appendU32(std::vector<std::uint8_t>& bytes, std::uint32_t value)
{
    appendU16(bytes, value & 0xffff);
    appendU16(bytes, value >> 16);
}

inline void appendId(std::vector<std::uint8_t>& bytes, const char* id)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(id[i]));
}

// A 44-byte-header wave file (16-byte fmt chunk) around the given sample bytes.
inline std::vector<std::uint8_t> waveFileBytes(
    const PcmLayout& layout, const std::vector<std::uint8_t>& sampleBytes)
{
    const std::uint32_t blockAlign = layout.channels * (layout.bitsPerSample / 8u);
    const auto dataSize = static_cast<std::uint32_t>(sampleBytes.size());
    std::vector<std::uint8_t> bytes;
    appendId(bytes, "RIFF");
    appendU32(bytes, 4 + 24 + 8 + dataSize + (dataSize & 1u));
    appendId(bytes, "WAVE");
    appendId(bytes, "fmt ");
    appendU32(bytes, 16);
    appendU16(bytes, layout.formatTag);
    appendU16(bytes, layout.channels);
    appendU32(bytes, layout.sampleRate);
    appendU32(bytes, layout.sampleRate * blockAlign);
    appendU16(bytes, blockAlign);
    appendU16(bytes, layout.bitsPerSample);
    appendId(bytes, "data");
    appendU32(bytes, dataSize);
    bytes.insert(bytes.end(), sampleBytes.begin(), sampleBytes.end());
    if (dataSize & 1u)
        bytes.push_back(0);
    return bytes;
}

inline std::vector<std::uint8_t> int16Bytes(const std::vector<std::int16_t>& samples)
{
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t sample : samples)
        appendU16(bytes, static_cast<std::uint16_t>(sample));
    return bytes;
}

inline std::vector<std::int16_t> int16Samples(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        samples.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return samples;
}

// A deterministic, busy signal: a few partials and a little pseudo-random noise.
inline std::vector<std::int16_t> testSignal16(std::size_t sampleCount, unsigned seed)
{
    std::vector<std::int16_t> samples(sampleCount);
    std::uint32_t noise = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < sampleCount; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double t = static_cast<double>(i);
        const double value = 9000.0 * std::sin(t * (0.031 + 0.007 * seed))
            + 5000.0 * std::sin(t * 0.177) + static_cast<double>(noise >> 20) - 2048.0;
        samples[i] = static_cast<std::int16_t>(value);
    }
    return samples;
}

inline std::vector<std::uint8_t> testSignal8(std::size_t sampleCount, unsigned seed)
{
    std::vector<std::uint8_t> samples(sampleCount);
    for (std::size_t i = 0; i < sampleCount; ++i) {
        const double t = static_cast<double>(i);
        samples[i] = static_cast<std::uint8_t>(
            127.0 + 90.0 * std::sin(t * (0.05 + 0.01 * seed)) + 30.0 * std::sin(t * 0.31));
    }
    return samples;
}

inline void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

inline std::uint32_t u32At(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16)
        | (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

inline std::uint16_t u16At(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// The job's output as written: the fmt fields and the data chunk's bytes, read from the fixed
// 46-byte layout; empty when the file is not that layout or its sizes do not add up.
struct OutputWave {
    PcmLayout layout;
    std::uint32_t riffSize = 0;
    std::vector<std::uint8_t> data;
};

inline std::optional<OutputWave> readOutputWave(const std::filesystem::path& path)
{
    const std::vector<std::uint8_t> bytes = readFile(path);
    if (bytes.size() < 46 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF"
        || std::string(bytes.begin() + 8, bytes.begin() + 16) != "WAVEfmt "
        || u32At(bytes, 16) != 18 || std::string(bytes.begin() + 38, bytes.begin() + 42) != "data")
        return std::nullopt;
    OutputWave wave;
    wave.layout.formatTag = u16At(bytes, 20);
    wave.layout.channels = u16At(bytes, 22);
    wave.layout.sampleRate = u32At(bytes, 24);
    wave.layout.bitsPerSample = u16At(bytes, 34);
    wave.riffSize = u32At(bytes, 4);
    const std::uint32_t dataSize = u32At(bytes, 42);
    if (46 + static_cast<std::size_t>(dataSize) > bytes.size())
        return std::nullopt;
    wave.data.assign(bytes.begin() + 46, bytes.begin() + 46 + dataSize);
    return wave;
}

// A fresh folder per test, removed afterwards.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern
            = (std::filesystem::temp_directory_path() / "lumivox-job-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    std::filesystem::path operator/(const std::string& name) const { return path / name; }

    std::filesystem::path path;
};

} // namespace lumivox::job::test
