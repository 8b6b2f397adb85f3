#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lumivox::wave {

// Where a resampler's input comes from: mono frames into destination, as many as fit, 0 at the
// end, -1 on an error.
using FrameSource = std::function<std::int64_t(std::span<double> destination)>;

// Converts a stream of mono frames from one sample rate to another with libsoxr's very high
// quality recipe, pulling its input a block at a time: its memory stays the same however long the
// stream. The output is aligned with the input (the filter's delay is taken out) and as long as
// the input at the new rate, the filter's tail included.
class Resampler {
public:
    // Null when libsoxr refuses the rates, with its reason stored through cause when given.
    [[nodiscard]] static std::unique_ptr<Resampler> create(double inputRate, double outputRate,
        std::size_t blockFrames, FrameSource source, std::string* cause = nullptr);

    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;
    ~Resampler();

    // The next frames at the output rate into destination: all it holds except at the end, 0 at
    // the end. -1 once the source or libsoxr has failed (after the frames made before the
    // failure have been given); failureCause() then says why when libsoxr failed.
    [[nodiscard]] std::int64_t read(std::span<double> destination);

    [[nodiscard]] const std::string& failureCause() const { return failureCause_; }

private:
    struct State;
    Resampler(std::unique_ptr<State> state, std::size_t blockFrames, FrameSource source);

    std::unique_ptr<State> state_;
    FrameSource source_;
    std::vector<double> input_;
    std::size_t inputStart_ = 0;
    std::size_t inputEnd_ = 0;
    bool sourceEnded_ = false;
    bool drained_ = false;
    bool failed_ = false;
    std::string failureCause_;
};

} // namespace lumivox::wave
