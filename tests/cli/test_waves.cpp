#include "test_waves.h"

#include <cmath>

namespace lumivox::cli::test {

namespace {

    // One sample in [-1, 1] to the file's integer form.
    void putSample(std::vector<std::uint8_t>& bytes, double value, std::uint16_t bitsPerSample)
    {
        if (bitsPerSample == 8) {
            bytes.push_back(static_cast<std::uint8_t>(std::lround(128.0 + 120.0 * value)));
        } else if (bitsPerSample == 24) {
            const auto sample = static_cast<std::uint32_t>(std::lround(7680000.0 * value));
            for (int shift = 0; shift < 24; shift += 8)
                bytes.push_back(static_cast<std::uint8_t>(sample >> shift));
        } else {
            const auto sample = static_cast<std::int16_t>(std::lround(30000.0 * value));
            lumivox::test::appendUint16(bytes, static_cast<std::uint16_t>(sample));
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

std::vector<std::uint8_t> carrierSamples(
    std::size_t frameCount, std::uint16_t channels, std::uint16_t bitsPerSample)
{
    return render(
        frameCount, channels, bitsPerSample, [](std::size_t frame, std::uint16_t channel) {
            const double chord = sawtooth(frame, 401) + sawtooth(frame, 318) + sawtooth(frame, 268);
            return (channel == 0 ? 0.1 : 0.08) * chord;
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

void writeMono8Inputs(const std::filesystem::path& folder, std::size_t frameCount)
{
    const WaveShape mono8 { 1, 1, 44100, 8 };
    writeWaveFile(folder / "carrier.wav", mono8, carrierSamples(frameCount, 1, 8));
    writeWaveFile(folder / "modulator.wav", mono8, modulatorSamples(frameCount, 1, 8));
}

} // namespace lumivox::cli::test
