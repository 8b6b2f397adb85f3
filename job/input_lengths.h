#pragma once

#include "input_source.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

namespace lumivox::job {

// An input that counts the frames actually read from it, so that a run can say which input ended
// first and how much of the other it left out from what the files held, not from the lengths
// their headers declare.
class CountedSource final : public InputSource {
public:
    explicit CountedSource(InputSource& input);

    [[nodiscard]] std::int64_t read(std::span<double> values) override;
    [[nodiscard]] std::uint64_t frameCount() const override { return input_.frameCount(); }
    [[nodiscard]] std::string failureCause() const override { return input_.failureCause(); }

    [[nodiscard]] std::uint64_t framesRead() const { return framesRead_; }
    // A read gave fewer frames than were asked for: the input has ended (or failed).
    [[nodiscard]] bool endReached() const { return endReached_; }

private:
    InputSource& input_;
    std::uint64_t framesRead_ = 0;
    bool endReached_ = false;
};

// What a finished run left out, in frames at the carrier's rate.
struct InputLengths {
    std::uint64_t carrierFrames = 0; // as many as were there, or as were counted
    std::uint64_t modulatorFrames = 0;
    // The longer input was counted only up to mostFramesCounted past the other's end: there is
    // more of it than its frames say.
    bool longerNotCountedToTheEnd = false;
};

// After a run that used one input up: reads on in the other one (not in an endless carrier) to
// count what was left of it, at most mostFramesCounted more frames and only while stop stays
// down, in blocks of scratch's size. A read that fails ends the count.
[[nodiscard]] InputLengths countInputLengths(CountedSource& carrier, CountedSource& modulator,
    bool carrierEndless, std::uint64_t mostFramesCounted, std::span<double> scratch,
    const std::atomic<bool>& stop);

} // namespace lumivox::job
