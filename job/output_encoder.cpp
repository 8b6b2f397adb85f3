#include "output_encoder.h"

#include "sample_formats.h"

#include <bit>

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

} // namespace

OutputEncoder::OutputEncoder(wave::OutputDepth outputDepth)
    : depth(outputDepth)
{
}

std::size_t OutputEncoder::encode(std::span<const double> results, std::uint8_t* bytes)
{
    switch (depth) {
    case wave::OutputDepth::UInt8:
        clipped += store<encoding::UInt8>(results, bytes);
        return results.size();
    case wave::OutputDepth::Int16:
        break;
    case wave::OutputDepth::Int24:
        clipped += wave::storeBlockInt24(results, bytes);
        return 3 * results.size();
    case wave::OutputDepth::Float32:
        clipped += wave::storeBlockFloat32(results, bytes);
        return 4 * results.size();
    }
    clipped += store<encoding::Int16>(results, bytes);
    return 2 * results.size();
}

} // namespace lumivox::job
