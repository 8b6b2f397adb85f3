#include "output_encoder.h"

#include "sample_formats.h"

#include <bit>
#include <cmath>

namespace lumivox::job {

// A preview plays the float store's little-endian bytes as the machine's own floats.
static_assert(std::endian::native == std::endian::little);

namespace {

    template <typename Encoding>
    std::uint64_t store(std::span<const double> results, std::uint8_t* bytes)
    {
        auto* samples = reinterpret_cast<typename Encoding::Sample*>(bytes);
        std::uint64_t clipped = 0;
        for (std::size_t i = 0; i < results.size(); ++i) {
            clipped += Encoding::clips(results[i]) ? 1 : 0;
            samples[i] = Encoding::store(results[i]);
        }
        return clipped;
    }

    // What the wider stores keep of a result, in the engine's 16-bit units, for the level.
    struct Int24Units {
        using Sample = double;
        static Sample store(double y)
        {
            std::uint8_t bytes[3];
            static_cast<void>(wave::storeInt24(y, bytes));
            const auto bits = static_cast<std::uint32_t>(bytes[0])
                | (std::uint32_t { bytes[1] } << 8) | (std::uint32_t { bytes[2] } << 16);
            const auto sample = static_cast<std::int32_t>(bits << 8) >> 8;
            return static_cast<double>(sample) / 256.0;
        }
        static double carrier(Sample s) { return s; }
    };

    struct Float32Units {
        using Sample = double;
        static Sample store(double y) { return static_cast<float>(y / 32768.0) * 32768.0; }
        static double carrier(Sample s) { return s; }
    };

} // namespace

double fullScaleOf(wave::OutputDepth depth)
{
    switch (depth) {
    case wave::OutputDepth::UInt8:
        return 127.0;
    case wave::OutputDepth::Int16:
        break;
    case wave::OutputDepth::Int24:
        return 8388607.0 / 256.0;
    case wave::OutputDepth::Float32:
        return 32768.0;
    }
    return 32767.0;
}

OutputEncoder::OutputEncoder(wave::OutputDepth outputDepth)
    : depth(outputDepth)
    , loudness(fullScaleOf(outputDepth))
{
}

std::size_t OutputEncoder::encode(std::span<const double> results, double gain, std::uint8_t* bytes)
{
    switch (depth) {
    case wave::OutputDepth::UInt8:
        clipped += store<encoding::UInt8>(results, bytes);
        loudness.add<encoding::UInt8>(results, gain);
        return results.size();
    case wave::OutputDepth::Int16:
        break;
    case wave::OutputDepth::Int24:
        clipped += wave::storeBlockInt24(results, bytes);
        loudness.add<Int24Units>(results, gain);
        return 3 * results.size();
    case wave::OutputDepth::Float32:
        clipped += wave::storeBlockFloat32(results, bytes);
        loudness.add<Float32Units>(results, gain);
        return 4 * results.size();
    }
    clipped += store<encoding::Int16>(results, bytes);
    loudness.add<encoding::Int16>(results, gain);
    return 2 * results.size();
}

} // namespace lumivox::job
