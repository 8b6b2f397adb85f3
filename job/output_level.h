#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

namespace lumivox::job {

// Follows how loud a run's output is as its blocks are stored: the loudest sample the output
// holds, and the loudest result for each unit of Output Gain, from which the largest gain that
// would not have clipped follows. A Preview changes its gain as it plays, hence per block.
class OutputLevel {
public:
    // fullScale: the largest magnitude the output's samples hold in the engine's units (32767
    // for 16-bit, 127 for 8-bit samples).
    explicit OutputLevel(double fullScale_)
        : fullScale(fullScale_)
    {
    }

    // One block of the engine's results before storing, made with this gain; Encoding says how
    // they are stored (sample_formats.h), so that the peak is that of the samples written.
    template <typename Encoding> void add(std::span<const double> results, double gain)
    {
        double loudestResult = 0.0;
        for (const double y : results) {
            loudestResult = std::max(loudestResult, std::abs(y));
            const double stored = Encoding::carrier(Encoding::store(y));
            loudestStored = std::max(loudestStored, std::abs(stored));
        }
        if (gain > 0.0)
            loudestPerGain = std::max(loudestPerGain, loudestResult / gain);
    }

    // The loudest sample written as a fraction of full scale, 0 for silence; above 1 for float
    // samples beyond full scale, which are stored as they are.
    [[nodiscard]] double peak() const { return loudestStored / fullScale; }

    // The largest Output Gain (a factor, 1 at the slider's middle) at which no result would have
    // passed full scale; infinite when nothing was heard at any gain.
    [[nodiscard]] double clipFreeGain() const
    {
        if (!(loudestPerGain > 0.0))
            return std::numeric_limits<double>::infinity();
        return fullScale / loudestPerGain;
    }

private:
    double fullScale;
    double loudestStored = 0.0;
    double loudestPerGain = 0.0;
};

} // namespace lumivox::job
