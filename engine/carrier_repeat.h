#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lumivox::engine {

// Where a repeated carrier's samples come from.
class RepeatSource {
public:
    virtual ~RepeatSource() = default;
    // Reads up to out.size() samples: how many were read, 0 at the end, negative on failure.
    [[nodiscard]] virtual std::int64_t read(std::span<double> out) = 0;
    // Starts again from the first sample; false on failure.
    [[nodiscard]] virtual bool rewind() = 0;
};

// A carrier played again from its start each time it ends, for as long as it is asked for. Each
// seam is an equal-power crossfade: the last fadeFrames samples of a pass fade out (cosine) while
// the first fadeFrames samples fade in (sine), so a pass after the first starts at fadeFrames.
// The end of a pass is found by reading fadeFrames ahead, so the source's length need not be known.
class CarrierRepeat {
public:
    CarrierRepeat(RepeatSource& carrier, std::size_t fadeFrames); // may throw std::bad_alloc
    CarrierRepeat(const CarrierRepeat&) = delete;
    CarrierRepeat& operator=(const CarrierRepeat&) = delete;

    // Fills out and returns out.size(); fewer when the carrier holds no samples at all, negative
    // when reading or rewinding failed.
    [[nodiscard]] std::int64_t fill(std::span<double> out);

    std::uint64_t seamCount() const { return seams; }

    static constexpr std::size_t readFrames = 2048; // per read of the source

private:
    [[nodiscard]] bool crossSeam(std::size_t tailFrames);

    RepeatSource& source;
    std::size_t fade;
    std::vector<double> held; // read but not yet given out, from first to last
    std::size_t first = 0;
    std::size_t last = 0;
    std::size_t crossfaded = 0; // samples at first that are already mixed across a seam
    std::vector<double> head;
    bool passEnded = false;
    std::uint64_t passFrames = 0; // read in the running pass
    std::uint64_t seams = 0;
};

} // namespace lumivox::engine
