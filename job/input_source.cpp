#include "input_source.h"

#include "sample_formats.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace lumivox::job {

namespace {

    template <typename Encoding>
    void toValues(const std::uint8_t* bytes, std::span<double> values, InputRole role)
    {
        const auto* samples = reinterpret_cast<const typename Encoding::Sample*>(bytes);
        if (role == InputRole::Carrier) {
            for (std::size_t i = 0; i < values.size(); ++i)
                values[i] = Encoding::carrier(samples[i]);
        } else {
            for (std::size_t i = 0; i < values.size(); ++i)
                values[i] = Encoding::modulator(samples[i]);
        }
    }

    // The frames of the source that a read of this many frames takes.
    std::size_t monoBytesFor(std::size_t frameCount, bool sixteenBit)
    {
        return std::min(sixteenBit ? 2 * frameCount : frameCount, monoBlockBytes);
    }

} // namespace

WaveInputSource::WaveInputSource(MonoInput& input, std::uint8_t* block, InputRole role)
    : InputSource(input.format.sampleRate,
        input.format.bitsPerSample == 8 ? wave::OutputDepth::UInt8 : wave::OutputDepth::Int16)
    , input_(input)
    , block_(block)
    , role_(role)
    , sixteenBit_(input.format.bitsPerSample != 8)
{
}

std::int64_t WaveInputSource::read(std::span<double> values)
{
    errno = 0;
    const std::int64_t bytesRead
        = readMonoBlock(input_, block_, sixteenBit_, monoBytesFor(values.size(), sixteenBit_));
    if (bytesRead < 0) {
        const int code = errno;
        failureCause_ = code != 0 ? std::strerror(code) : "";
        return -1;
    }
    // Whole samples only: an odd byte at the end of a 16-bit block is dropped.
    const auto frames = static_cast<std::size_t>(sixteenBit_ ? bytesRead / 2 : bytesRead);
    if (sixteenBit_)
        toValues<encoding::Int16>(block_, values.first(frames), role_);
    else
        toValues<encoding::UInt8>(block_, values.first(frames), role_);
    return static_cast<std::int64_t>(frames);
}

std::uint64_t WaveInputSource::frameCount() const
{
    return sixteenBit_ ? input_.monoByteCount() / 2 : input_.monoByteCount();
}

bool WaveInputSource::lengthTrusted() const
{
    return input_.reader == nullptr || input_.reader->declaredLengthHeld();
}

SoundInputSource::SoundInputSource(std::unique_ptr<wave::SoundFileReader> reader, InputRole role)
    : InputSource(reader->format().sampleRate,
        wave::outputDepthFor(reader->format().encoding, reader->format().bitsPerSample))
    , reader_(std::move(reader))
    , divisor_(role == InputRole::Carrier ? 1.0 : reader_->unitsPerFullScale() - 1.0)
{
}

std::int64_t SoundInputSource::read(std::span<double> values)
{
    // A failure after some frames gives those first; the next read fails again.
    std::size_t filled = 0;
    while (filled < values.size()) {
        const std::int64_t framesRead = wave::readMonoFrames(*reader_, values.subspan(filled));
        if (framesRead < 0 && filled == 0)
            return -1;
        if (framesRead <= 0)
            break;
        filled += static_cast<std::size_t>(framesRead);
    }
    if (divisor_ != 1.0) {
        for (std::size_t i = 0; i < filled; ++i)
            values[i] /= divisor_;
    }
    return static_cast<std::int64_t>(filled);
}

std::uint64_t SoundInputSource::frameCount() const
{
    return static_cast<std::uint64_t>(std::max<std::int64_t>(reader_->format().frameCount, 0));
}

ResampledSource::ResampledSource(std::unique_ptr<InputSource> input, std::uint32_t outputRate)
    : InputSource(outputRate, input->depth())
    , input_(std::move(input))
{
}

std::unique_ptr<ResampledSource> ResampledSource::create(std::unique_ptr<InputSource> input,
    std::uint32_t outputRate, std::string& cause, std::function<bool()> interrupted)
{
    std::unique_ptr<ResampledSource> source(new ResampledSource(std::move(input), outputRate));
    InputSource& from = *source->input_;
    source->resampler_ = wave::Resampler::create(
        static_cast<double>(from.sampleRate()), static_cast<double>(outputRate), monoBlockBytes,
        [&from](std::span<double> values) { return from.read(values); }, &cause,
        std::move(interrupted));
    if (!source->resampler_)
        return nullptr;
    return source;
}

std::int64_t ResampledSource::read(std::span<double> values) { return resampler_->read(values); }

std::uint64_t ResampledSource::frameCount() const
{
    return static_cast<std::uint64_t>(std::llround(static_cast<double>(input_->frameCount())
        * static_cast<double>(sampleRate()) / static_cast<double>(input_->sampleRate())));
}

std::string ResampledSource::failureCause() const
{
    const std::string& own = resampler_->failureCause();
    return own.empty() ? input_->failureCause() : own;
}

} // namespace lumivox::job
