#include "output_encoder.h"

#include "sample_formats.h"

namespace lumivox::job {

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

OutputEncoder::OutputEncoder(int bitsPerSample)
    : sixteenBit(bitsPerSample != 8)
    , loudness(sixteenBit ? 32767.0 : 127.0)
{
}

std::size_t OutputEncoder::encode(std::span<const double> results, double gain, std::uint8_t* bytes)
{
    if (sixteenBit) {
        clipped += store<encoding::Int16>(results, bytes);
        loudness.add<encoding::Int16>(results, gain);
        return 2 * results.size();
    }
    clipped += store<encoding::UInt8>(results, bytes);
    loudness.add<encoding::UInt8>(results, gain);
    return results.size();
}

} // namespace lumivox::job
