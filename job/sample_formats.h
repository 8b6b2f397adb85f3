#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>

namespace lumivox::job {

// Anything that turns one carrier and one modulator value into an output value, as the vocoder
// engine's processSample does (tests pass a fake).
template <typename Engine>
concept SampleEngine = requires(Engine& engine, double value)
{
    {
        engine.processSample(value, value)
        } -> std::convertible_to<double>;
};

// Interleaved stereo to mono, each channel halved (toward zero) before the sum. Whole frames only:
// the trailing bytes of an incomplete frame are ignored.
void mixToMonoInt16(const std::int16_t* source, std::int16_t* destination, std::uint32_t byteCount);
// Interleaved stereo to mono, each byte shifted right by one before the sum; a byte count of 0 or
// less does nothing.
void mixToMonoUInt8(const std::uint8_t* source, std::uint8_t* destination, std::int32_t byteCount);

// The block functions run the engine once per sample, carrier first, and store the clamped result.
// A sample count of 0 or less does nothing.

template <SampleEngine Engine>
void processBlockInt16(Engine& engine, std::int16_t* output, const std::int16_t* carrier,
    const std::int16_t* modulator, int sampleCount)
{
    for (int i = 0; i < sampleCount; ++i) {
        double y = engine.processSample(
            static_cast<double>(carrier[i]), static_cast<double>(modulator[i]) / 32767.0);
        // The negative limit is -32767 too: the output never holds -32768.
        if (y > 32767.0)
            y = 32767.0;
        if (y < -32767.0)
            y = -32767.0;
        output[i] = static_cast<std::int16_t>(y); // truncated toward zero
    }
}

// 8-bit samples are centred on 127 here, not 128: earlier output files depend on it.
template <SampleEngine Engine>
void processBlockUInt8(Engine& engine, std::uint8_t* output, const std::uint8_t* carrier,
    const std::uint8_t* modulator, int sampleCount)
{
    for (int i = 0; i < sampleCount; ++i) {
        double y = engine.processSample(static_cast<double>(carrier[i]) - 127.0,
            (static_cast<double>(modulator[i]) - 127.0) / 127.0);
        if (y > 127.0)
            y = 127.0;
        if (y < -127.0)
            y = -127.0;
        output[i] = static_cast<std::uint8_t>(std::floor(y + 127.0));
    }
}

template <SampleEngine Engine>
void processBlockInt8(Engine& engine, std::int8_t* output, const std::int8_t* carrier,
    const std::int8_t* modulator, int sampleCount)
{
    for (int i = 0; i < sampleCount; ++i) {
        double y = engine.processSample(
            static_cast<double>(carrier[i]), static_cast<double>(modulator[i]) / 127.0);
        if (y > 127.0)
            y = 127.0;
        if (y < -127.0)
            y = -127.0;
        output[i] = static_cast<std::int8_t>(y); // truncated toward zero
    }
}

template <SampleEngine Engine>
void processBlockDouble(
    Engine& engine, double* output, const double* carrier, const double* modulator, int sampleCount)
{
    for (int i = 0; i < sampleCount; ++i)
        output[i] = engine.processSample(carrier[i], modulator[i]);
}

} // namespace lumivox::job
