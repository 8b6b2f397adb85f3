#pragma once

#include "engine_constants.h"

#include <atomic>
#include <cstddef>
#include <vector>

namespace lumivox::engine {

// What the two sides of a run split by bands hand each other while both work on the same block:
// the lower side's share of each frame's level sum, the whole sums back, the levels next to the
// split both ways, the lower side's share of the output and the lower bands' levels of the last
// frame. Each side counts the frames of each step it has done; the other waits for them, spinning
// briefly (the other side is usually a moment away), then sleeping. One exchange per block in
// flight, made for the most frames a block holds.
class BandExchange {
public:
    explicit BandExchange(int frameCapacity); // may throw std::bad_alloc
    BandExchange(const BandExchange&) = delete;
    BandExchange& operator=(const BandExchange&) = delete;

    // Before a block, by the thread that hands it over, while neither side uses the exchange.
    void reset();
    // Ends every wait now and until reset: the run is stopping and a side may never come.
    void abandon();
    bool abandoned() const { return stopped.load(std::memory_order_acquire); }

    int capacity() const { return frameCapacity; }

    // The steps each side announces, in frames from the block's start.
    enum class Step { LowerLevels, UpperLevels, LowerOutput, LowerDone };
    void announce(Step step, int frames);
    // Waits until the step has reached frames; false when abandoned.
    bool waitFor(Step step, int frames);

    double* lowerShare() { return values.data(); }
    double* levelSums() { return values.data() + frameCapacity; }
    double* lowerOutput() { return values.data() + 2 * static_cast<std::ptrdiff_t>(frameCapacity); }
    // The levels next to the split, at most edgeValues per frame.
    static constexpr int edgeValues = (maxSpread + 7) / 8 * 8;
    double* lowerEdge() { return edges.front().values; }
    double* upperEdge()
    {
        return lowerEdge() + static_cast<std::ptrdiff_t>(frameCapacity) * edgeValues;
    }
    double* lowerLastLevels() { return lastLevels.data(); }

private:
    struct alignas(64) Counter {
        std::atomic<int> frames { 0 };
    };
    Counter& counter(Step step) { return counters[static_cast<std::size_t>(step)]; }

    int frameCapacity;
    std::vector<double> values;
    // Whole cache lines, so that a frame's levels go in as whole vectors, none split across lines.
    struct alignas(64) Line {
        double values[8];
    };
    std::vector<Line> edges;
    std::vector<double> lastLevels;
    Counter counters[4];
    std::atomic<bool> stopped { false };
};

} // namespace lumivox::engine
