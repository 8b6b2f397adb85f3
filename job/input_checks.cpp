#include "input_checks.h"

#include <algorithm>
#include <limits>

namespace lumivox::job {

namespace {

    std::span<const std::uint8_t> formatBytesOf(const MonoInput& input)
    {
        if (input.reader)
            return input.reader->formatBytes();
        return {};
    }

    std::uint64_t bytesPerSecond(const wave::WaveFormat& format)
    {
        return std::uint64_t { format.sampleRate } * std::max<std::uint16_t>(format.channels, 1)
            * (format.bitsPerSample / 8u);
    }

    bool hasVocodableDepth(const wave::WaveFormat& format)
    {
        return format.bitsPerSample == 8 || format.bitsPerSample == 16;
    }

    bool hasUsableRate(const wave::WaveFormat& format)
    {
        return format.sampleRate != 0
            && bytesPerSecond(format) <= std::numeric_limits<std::uint32_t>::max();
    }

    // The highest rate any reader takes: one whose 32-bit float output still has a byte rate a
    // wave header holds.
    constexpr std::uint32_t highestReadRate = std::numeric_limits<std::uint32_t>::max() / 4;

    std::string rateCause(const wave::WaveFormat& format)
    {
        if (format.sampleRate == 0)
            return "a sample rate of 0 Hz";
        return "a sample rate of " + std::to_string(format.sampleRate)
            + " Hz, too high for a wave file";
    }

} // namespace

bool isVocodablePcm(const MonoInput& input)
{
    const auto bytes = formatBytesOf(input);
    const wave::WaveFormat& format = input.format;
    const bool pcm
        = bytes.empty() ? format.formatTag == wave::pcmFormatTag : wave::isPcmFormat(bytes);
    return pcm && hasVocodableDepth(format) && hasUsableRate(format);
}

std::string whyNotVocodable(const MonoInput& input)
{
    const auto bytes = formatBytesOf(input);
    const wave::WaveFormat& format = input.format;
    const std::uint16_t tag = bytes.empty() ? format.formatTag : wave::effectiveFormatTag(bytes);
    const std::string bits = std::to_string(format.bitsPerSample) + "-bit";
    // A rate no reader takes is the cause, whatever the samples are.
    if (format.sampleRate == 0 || format.sampleRate > highestReadRate)
        return rateCause(format);
    if (tag == wave::floatFormatTag)
        return bits + " float samples";
    if (tag != wave::pcmFormatTag)
        return "compressed or unknown encoding (format tag " + std::to_string(tag) + "), not PCM";
    if (!bytes.empty() && !wave::isPcmFormat(bytes))
        return "samples that do not fill their " + bits + " containers";
    if (!hasVocodableDepth(format))
        return bits + " samples";
    return rateCause(format);
}

} // namespace lumivox::job
