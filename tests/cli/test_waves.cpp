#include "test_waves.h"

#include <cmath>
#include <fstream>
#include <iterator>

namespace lumivox::cli::test {

namespace {

    void put16(std::vector<std::uint8_t>& bytes, std::uint32_t value)
    {
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    }

    void put32(std::vector<std::uint8_t>& bytes, std::uint32_t value)
    {
        put16(bytes, value & 0xFFFF);
        put16(bytes, value >> 16);
    }

    void putTag(std::vector<std::uint8_t>& bytes, const char (&tag)[5])
    {
        bytes.insert(bytes.end(), tag, tag + 4);
    }

    std::uint32_t get16(const std::vector<std::uint8_t>& bytes, std::size_t at)
    {
        return static_cast<std::uint32_t>(bytes[at] | (bytes[at + 1] << 8));
    }

    std::uint32_t get32(const std::vector<std::uint8_t>& bytes, std::size_t at)
    {
        return get16(bytes, at) | (get16(bytes, at + 2) << 16);
    }

    bool hasTag(const std::vector<std::uint8_t>& bytes, std::size_t at, const char (&tag)[5])
    {
        return std::equal(tag, tag + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }

    // One sample in [-1, 1] to the file's integer form.
    void putSample(std::vector<std::uint8_t>& bytes, double value, std::uint16_t bitsPerSample)
    {
        if (bitsPerSample == 8) {
            bytes.push_back(static_cast<std::uint8_t>(std::lround(128.0 + 120.0 * value)));
        } else {
            const auto sample = static_cast<std::int16_t>(std::lround(30000.0 * value));
            put16(bytes, static_cast<std::uint16_t>(sample));
        }
    }

    template <typename Signal>
    std::vector<std::uint8_t> render(
        std::size_t frameCount, std::uint16_t channels, std::uint16_t bitsPerSample, Signal signal)
    {
        std::vector<std::uint8_t> bytes;
        bytes.reserve(frameCount * channels * (bitsPerSample / 8));
        for (std::size_t frame = 0; frame < frameCount; ++frame) {
            for (std::uint16_t channel = 0; channel < channels; ++channel)
                putSample(bytes, signal(frame, channel), bitsPerSample);
        }
        return bytes;
    }

    double sawtooth(std::size_t frame, std::size_t period)
    {
        return 2.0 * static_cast<double>(frame % period) / static_cast<double>(period) - 1.0;
    }

} // namespace

void writeWaveFile(const std::filesystem::path& path, const WaveShape& shape,
    const std::vector<std::uint8_t>& sampleBytes)
{
    const std::uint32_t bytesPerFrame = shape.channels * (shape.bitsPerSample / 8u);
    const auto dataSize = static_cast<std::uint32_t>(sampleBytes.size());
    std::vector<std::uint8_t> bytes;
    putTag(bytes, "RIFF");
    put32(bytes, 4 + 8 + 16 + 8 + dataSize + (dataSize & 1u));
    putTag(bytes, "WAVE");
    putTag(bytes, "fmt ");
    put32(bytes, 16);
    put16(bytes, shape.formatTag);
    put16(bytes, shape.channels);
    put32(bytes, shape.sampleRate);
    put32(bytes, shape.sampleRate * bytesPerFrame);
    put16(bytes, bytesPerFrame);
    put16(bytes, shape.bitsPerSample);
    putTag(bytes, "data");
    put32(bytes, dataSize);
    bytes.insert(bytes.end(), sampleBytes.begin(), sampleBytes.end());
    if ((dataSize & 1u) != 0)
        bytes.push_back(0);
    std::ofstream file(path, std::ios::binary);
    file.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> carrierSamples(
    std::size_t frameCount, std::uint16_t channels, std::uint16_t bitsPerSample)
{
    return render(
        frameCount, channels, bitsPerSample, [](std::size_t frame, std::uint16_t channel) {
            const double chord = sawtooth(frame, 401) + sawtooth(frame, 318) + sawtooth(frame, 268);
            return (channel == 0 ? 0.3 : 0.25) * chord;
        });
}

std::vector<std::uint8_t> modulatorSamples(
    std::size_t frameCount, std::uint16_t channels, std::uint16_t bitsPerSample)
{
    return render(frameCount, channels, bitsPerSample, [](std::size_t frame, std::uint16_t) {
        const double time = static_cast<double>(frame);
        const double level = 0.5 + 0.5 * std::sin(time * 0.0007);
        return 0.9 * level * std::sin(time * 0.071) * std::sin(time * 0.0031);
    });
}

std::optional<OutputWave> readOutputWave(const std::filesystem::path& path, std::string& problem)
{
    const std::vector<std::uint8_t> bytes = readBytes(path);
    if (bytes.size() < 46) {
        problem = "shorter than the 46-byte header: " + std::to_string(bytes.size()) + " bytes";
        return std::nullopt;
    }
    if (!hasTag(bytes, 0, "RIFF") || !hasTag(bytes, 8, "WAVE") || !hasTag(bytes, 12, "fmt ")
        || !hasTag(bytes, 38, "data")) {
        problem = "the chunk tags are not RIFF/WAVE/fmt /data";
        return std::nullopt;
    }
    const std::uint32_t dataSize = get32(bytes, 42);
    const std::size_t expectedFileSize = 46 + std::size_t { dataSize } + (dataSize & 1u);
    if (bytes.size() != expectedFileSize || get32(bytes, 4) != bytes.size() - 8) {
        problem = "sizes not patched: file " + std::to_string(bytes.size()) + ", RIFF "
            + std::to_string(get32(bytes, 4)) + ", data " + std::to_string(dataSize);
        return std::nullopt;
    }
    if (get32(bytes, 16) != 18 || get16(bytes, 36) != 0) {
        problem = "the fmt chunk is not 18 bytes with no extra bytes";
        return std::nullopt;
    }
    if ((dataSize & 1u) != 0 && bytes.back() != 0) {
        problem = "the pad byte after odd data is not zero";
        return std::nullopt;
    }
    OutputWave wave;
    wave.shape.formatTag = static_cast<std::uint16_t>(get16(bytes, 20));
    wave.shape.channels = static_cast<std::uint16_t>(get16(bytes, 22));
    wave.shape.sampleRate = get32(bytes, 24);
    wave.shape.bitsPerSample = static_cast<std::uint16_t>(get16(bytes, 34));
    const std::uint32_t bytesPerFrame = wave.shape.channels * (wave.shape.bitsPerSample / 8u);
    if (get16(bytes, 32) != bytesPerFrame
        || get32(bytes, 28) != wave.shape.sampleRate * bytesPerFrame) {
        problem = "blockAlign or avgBytesPerSec disagree with the format";
        return std::nullopt;
    }
    wave.samples.assign(bytes.begin() + 46, bytes.begin() + 46 + dataSize);
    return wave;
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

} // namespace lumivox::cli::test
