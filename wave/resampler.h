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

// The widest conversions that are made, measured with libsoxr's very high quality recipe: up to
// these ratios its filter is designed in well under a tenth of a second and a few tens of MB, at
// any pair of rates (only their ratio counts); beyond them it takes seconds, gigabytes or for
// ever (a million times up never finishes, and 2^30 times up asks for 2^64 bytes).
inline constexpr double mostUpsampling = 65536.0;
inline constexpr double mostDownsampling = 1024.0;

// Whether a stream at inputRate can be brought to outputRate: both rates positive and within the
// ratios above.
[[nodiscard]] bool canResample(double inputRate, double outputRate);

// Converts a stream of mono frames from one sample rate to another with libsoxr's very high
// quality recipe, pulling its input a block at a time: its memory stays the same however long the
// stream. The output is aligned with the input (the filter's delay is taken out) and as long as
// the input at the new rate, the filter's tail included.
class Resampler {
public:
    // Null when the rates are beyond canResample or libsoxr refuses them, with the reason stored
    // through cause when given. interrupted, when given, is asked between libsoxr's steps: once
    // it says so, read() gives -1 at once (interruptedRead() then tells).
    [[nodiscard]] static std::unique_ptr<Resampler> create(double inputRate, double outputRate,
        std::size_t blockFrames, FrameSource source, std::string* cause = nullptr,
        std::function<bool()> interrupted = {});

    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;
    ~Resampler();

    // The next frames at the output rate into destination: all it holds except at the end, 0 at
    // the end. -1 once the source or libsoxr has failed (after the frames made before the
    // failure have been given); failureCause() then says why when libsoxr failed.
    [[nodiscard]] std::int64_t read(std::span<double> destination);

    [[nodiscard]] const std::string& failureCause() const { return failureCause_; }
    [[nodiscard]] bool interruptedRead() const { return interruptedRead_; }

private:
    struct State;
    Resampler(std::unique_ptr<State> state, std::size_t blockFrames, FrameSource source,
        std::function<bool()> interrupted);

    std::unique_ptr<State> state_;
    FrameSource source_;
    std::function<bool()> interrupted_;
    std::vector<double> input_;
    std::size_t inputStart_ = 0;
    std::size_t inputEnd_ = 0;
    bool sourceEnded_ = false;
    bool drained_ = false;
    bool failed_ = false;
    bool interruptedRead_ = false;
    std::string failureCause_;
};

} // namespace lumivox::wave
