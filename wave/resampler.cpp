#include "resampler.h"

#include <soxr.h>
#include <utility>

namespace lumivox::wave {

struct Resampler::State {
    explicit State(soxr_t created)
        : soxr(created)
    {
    }
    ~State() { soxr_delete(soxr); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    soxr_t soxr;
};

Resampler::Resampler(std::unique_ptr<State> state, std::size_t blockFrames, FrameSource source,
    std::function<bool()> interrupted)
    : state_(std::move(state))
    , source_(std::move(source))
    , interrupted_(std::move(interrupted))
    , input_(blockFrames < 1 ? 1 : blockFrames)
{
}

bool canResample(double inputRate, double outputRate)
{
    if (!(inputRate > 0.0) || !(outputRate > 0.0))
        return false;
    return outputRate <= inputRate * mostUpsampling && inputRate <= outputRate * mostDownsampling;
}

Resampler::~Resampler() = default;

std::unique_ptr<Resampler> Resampler::create(double inputRate, double outputRate,
    std::size_t blockFrames, FrameSource source, std::string* cause,
    std::function<bool()> interrupted)
{
    if (!canResample(inputRate, outputRate)) {
        if (cause != nullptr)
            *cause = "the rates are too far apart to be resampled";
        return nullptr;
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    soxr_error_t error = nullptr;
    soxr_t created = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, nullptr);
    if (created == nullptr || error != nullptr) {
        if (created != nullptr)
            soxr_delete(created);
        if (cause != nullptr)
            *cause = error != nullptr ? error : "the resampler could not be set up";
        return nullptr;
    }
    return std::unique_ptr<Resampler>(new Resampler(
        std::make_unique<State>(created), blockFrames, std::move(source), std::move(interrupted)));
}

std::int64_t Resampler::read(std::span<double> destination)
{
    std::size_t produced = 0;
    while (produced < destination.size() && !drained_ && !failed_) {
        // A block at a wide ratio takes many steps: a stop is seen between any two of them.
        if (interrupted_ && interrupted_()) {
            interruptedRead_ = true;
            return -1;
        }
        if (inputStart_ == inputEnd_ && !sourceEnded_) {
            const std::int64_t framesRead = source_(input_);
            if (framesRead < 0) {
                failed_ = true;
                break;
            }
            sourceEnded_ = framesRead == 0;
            inputStart_ = 0;
            inputEnd_ = static_cast<std::size_t>(framesRead);
        }
        std::size_t consumed = 0;
        std::size_t made = 0;
        double* output = destination.data() + produced;
        const std::size_t room = destination.size() - produced;
        // Without input, libsoxr gives out what its filter still holds.
        const soxr_error_t error = sourceEnded_
            ? soxr_process(state_->soxr, nullptr, 0, nullptr, output, room, &made)
            : soxr_process(state_->soxr, input_.data() + inputStart_, inputEnd_ - inputStart_,
                &consumed, output, room, &made);
        if (error != nullptr) {
            failureCause_ = error;
            failed_ = true;
            break;
        }
        inputStart_ += consumed;
        produced += made;
        if (sourceEnded_ && made == 0)
            drained_ = true;
    }
    if (produced == 0 && failed_)
        return -1;
    return static_cast<std::int64_t>(produced);
}

} // namespace lumivox::wave
