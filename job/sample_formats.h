#pragma once

#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

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

// An engine that also runs whole blocks, with the same results as processSample frame by frame.
template <typename Engine>
concept BlockEngine = SampleEngine<Engine> && requires(
    Engine& engine, std::span<const double> input, std::span<double> output)
{
    engine.processBlock(input, input, output);
};

// Interleaved stereo to mono, each channel halved (toward zero) before the sum. Whole frames only:
// the trailing bytes of an incomplete frame are ignored.
void mixToMonoInt16(const std::int16_t* source, std::int16_t* destination, std::uint32_t byteCount);
// Interleaved stereo to mono, each byte shifted right by one before the sum; a byte count of 0 or
// less does nothing.
void mixToMonoUInt8(const std::uint8_t* source, std::uint8_t* destination, std::int32_t byteCount);

// How each sample encoding reaches the engine and how the engine's result is stored back.
namespace encoding {

    // The upper limit is tested first, then the lower one, as the stored samples have always been.
    inline bool beyond(double y, double limit) { return y > limit || y < -limit; }

    inline double clamp(double y, double limit)
    {
        if (y > limit)
            y = limit;
        if (y < -limit)
            y = -limit;
        return y;
    }

    struct Int16 {
        using Sample = std::int16_t;
        static double carrier(Sample s) { return static_cast<double>(s); }
        static double modulator(Sample s) { return static_cast<double>(s) / 32767.0; }
        // Truncated toward zero. The negative limit is -32767 too: the output never holds -32768.
        static Sample store(double y) { return static_cast<Sample>(clamp(y, 32767.0)); }
        static bool clips(double y) { return beyond(y, 32767.0); }
    };

    // 8-bit samples are centred on 127 here, not 128: earlier output files depend on it.
    struct UInt8 {
        using Sample = std::uint8_t;
        static double carrier(Sample s) { return static_cast<double>(s) - 127.0; }
        static double modulator(Sample s) { return (static_cast<double>(s) - 127.0) / 127.0; }
        static Sample store(double y)
        {
            return static_cast<Sample>(std::floor(clamp(y, 127.0) + 127.0));
        }
        static bool clips(double y) { return beyond(y, 127.0); }
    };

    struct Int8 {
        using Sample = std::int8_t;
        static double carrier(Sample s) { return static_cast<double>(s); }
        static double modulator(Sample s) { return static_cast<double>(s) / 127.0; }
        // Truncated toward zero.
        static Sample store(double y) { return static_cast<Sample>(clamp(y, 127.0)); }
        static bool clips(double y) { return beyond(y, 127.0); }
    };

    struct Double {
        using Sample = double;
        static double carrier(Sample s) { return s; }
        static double modulator(Sample s) { return s; }
        static Sample store(double y) { return y; } // not clamped
        static bool clips(double) { return false; }
    };

} // namespace encoding

// Runs the engine once per sample, carrier first, and stores the converted result. An engine with
// a block path gets the samples as doubles in runs of up to 2048 frames, kept on the stack (nothing
// is allocated): a whole 16-bit block of the job at once, so that the engine has enough work to
// share between threads. Its results are the same bits, so the stored samples are too. Returns how
// many results had to be clamped to full scale.
template <typename Encoding, SampleEngine Engine>
std::size_t processBlockAs(Engine& engine, typename Encoding::Sample* output,
    const typename Encoding::Sample* carrier, const typename Encoding::Sample* modulator,
    int sampleCount)
{
    std::size_t clippedCount = 0;
    if constexpr (BlockEngine<Engine>) {
        constexpr int runLength = 2048;
        double carrierValues[runLength];
        double modulatorValues[runLength];
        double results[runLength];
        for (int start = 0; start < sampleCount; start += runLength) {
            const int length = sampleCount - start < runLength ? sampleCount - start : runLength;
            for (int i = 0; i < length; ++i) {
                carrierValues[i] = Encoding::carrier(carrier[start + i]);
                modulatorValues[i] = Encoding::modulator(modulator[start + i]);
            }
            const auto count = static_cast<std::size_t>(length);
            engine.processBlock(std::span<const double>(carrierValues, count),
                std::span<const double>(modulatorValues, count), std::span<double>(results, count));
            for (int i = 0; i < length; ++i) {
                clippedCount += Encoding::clips(results[i]) ? 1 : 0;
                output[start + i] = Encoding::store(results[i]);
            }
        }
    } else {
        for (int i = 0; i < sampleCount; ++i) {
            const double y = engine.processSample(
                Encoding::carrier(carrier[i]), Encoding::modulator(modulator[i]));
            clippedCount += Encoding::clips(y) ? 1 : 0;
            output[i] = Encoding::store(y);
        }
    }
    return clippedCount;
}

// The block functions: a sample count of 0 or less does nothing. Each returns the clipped count.
template <SampleEngine Engine>
std::size_t processBlockInt16(Engine& engine, std::int16_t* output, const std::int16_t* carrier,
    const std::int16_t* modulator, int sampleCount)
{
    return processBlockAs<encoding::Int16>(engine, output, carrier, modulator, sampleCount);
}

template <SampleEngine Engine>
std::size_t processBlockUInt8(Engine& engine, std::uint8_t* output, const std::uint8_t* carrier,
    const std::uint8_t* modulator, int sampleCount)
{
    return processBlockAs<encoding::UInt8>(engine, output, carrier, modulator, sampleCount);
}

template <SampleEngine Engine>
std::size_t processBlockInt8(Engine& engine, std::int8_t* output, const std::int8_t* carrier,
    const std::int8_t* modulator, int sampleCount)
{
    return processBlockAs<encoding::Int8>(engine, output, carrier, modulator, sampleCount);
}

template <SampleEngine Engine>
std::size_t processBlockDouble(
    Engine& engine, double* output, const double* carrier, const double* modulator, int sampleCount)
{
    return processBlockAs<encoding::Double>(engine, output, carrier, modulator, sampleCount);
}

} // namespace lumivox::job
