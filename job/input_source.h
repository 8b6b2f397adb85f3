#pragma once

#include "job_environment.h"
#include "mono_input.h"
#include "wave/resampler.h"
#include "wave/sample_stores.h"
#include "wave/sound_file.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace lumivox::job {

// One input of a run as the engine takes it: frames of values, a carrier in its sample units
// (16-bit units, or 8-bit ones for 8-bit files) and a modulator normalised to full scale 1.
class InputSource {
public:
    InputSource(std::uint32_t rate, wave::OutputDepth depth)
        : sampleRate_(rate)
        , depth_(depth)
    {
    }
    virtual ~InputSource() = default;
    InputSource(const InputSource&) = delete;
    InputSource& operator=(const InputSource&) = delete;

    // The next frames into values, all it holds except at the end (at most maxFrames of the
    // caller's blocks); 0 at the end, -1 on a failure that failureCause() then names.
    [[nodiscard]] virtual std::int64_t read(std::span<double> values) = 0;
    // The frames the input says it holds, at its own rate.
    [[nodiscard]] virtual std::uint64_t frameCount() const = 0;
    // False when the input does not say how long it is (a streamed FLAC's header may say 0).
    [[nodiscard]] virtual bool lengthKnown() const { return true; }
    // True when the length it says is borne out by its file, so that a total taken from it is
    // more than a header's claim: a wave file whose data chunk declares more than the file holds
    // says a length that is not.
    [[nodiscard]] virtual bool lengthTrusted() const { return lengthKnown(); }
    [[nodiscard]] virtual std::string failureCause() const = 0;
    // Goes back to the first frame, for an input that can without being opened again (one held
    // in memory); false for a file.
    [[nodiscard]] virtual bool rewind() { return false; }

    [[nodiscard]] std::uint32_t sampleRate() const { return sampleRate_; }
    // How an output made from this input as the carrier is stored.
    [[nodiscard]] wave::OutputDepth depth() const { return depth_; }

private:
    std::uint32_t sampleRate_;
    wave::OutputDepth depth_;
};

// An 8- or 16-bit PCM wave file with one or two channels, read as it always has been: today's
// reader, its reduction to mono and its conversion to the engine's values.
class WaveInputSource final : public InputSource {
public:
    // block is the input's block buffer (blockBufferBytes); input must stay open while this lives.
    WaveInputSource(MonoInput& input, std::uint8_t* block, InputRole role);

    [[nodiscard]] std::int64_t read(std::span<double> values) override;
    [[nodiscard]] std::uint64_t frameCount() const override;
    [[nodiscard]] bool lengthTrusted() const override;
    [[nodiscard]] std::string failureCause() const override { return failureCause_; }

private:
    MonoInput& input_;
    std::uint8_t* block_;
    InputRole role_;
    bool sixteenBit_;
    std::string failureCause_;
};

// Any other recording, read through libsndfile and averaged to mono.
class SoundInputSource final : public InputSource {
public:
    SoundInputSource(std::unique_ptr<wave::SoundFileReader> reader, InputRole role);

    [[nodiscard]] std::int64_t read(std::span<double> values) override;
    [[nodiscard]] std::uint64_t frameCount() const override;
    [[nodiscard]] bool lengthKnown() const override { return reader_->format().frameCount > 0; }
    [[nodiscard]] std::string failureCause() const override { return reader_->failureCause(); }

    [[nodiscard]] const wave::SoundFileFormat& format() const { return reader_->format(); }

private:
    std::unique_ptr<wave::SoundFileReader> reader_;
    double divisor_; // 1 for a carrier; just under full scale for a modulator, as 16-bit has it
};

// Another input brought to a new rate by libsoxr, a block at a time.
class ResampledSource final : public InputSource {
public:
    // Null when the rates cannot be resampled, with the reason in cause. A read gives -1 as
    // soon as interrupted (when given) says so, even within a block.
    [[nodiscard]] static std::unique_ptr<ResampledSource> create(std::unique_ptr<InputSource> input,
        std::uint32_t outputRate, std::string& cause, std::function<bool()> interrupted = {});

    [[nodiscard]] std::int64_t read(std::span<double> values) override;
    [[nodiscard]] std::uint64_t frameCount() const override;
    [[nodiscard]] bool lengthTrusted() const override { return input_->lengthTrusted(); }
    [[nodiscard]] std::string failureCause() const override;

private:
    ResampledSource(std::unique_ptr<InputSource> input, std::uint32_t outputRate);

    std::unique_ptr<InputSource> input_;
    std::unique_ptr<wave::Resampler> resampler_;
};

} // namespace lumivox::job
