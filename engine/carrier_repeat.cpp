#include "carrier_repeat.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lumivox::engine {

CarrierRepeat::CarrierRepeat(RepeatSource& carrier, std::size_t fadeFrames)
    : source(carrier)
    , fade(std::max<std::size_t>(fadeFrames, 1))
    , held(fade + readFrames, 0.0)
    , head(fade, 0.0)
{
}

std::int64_t CarrierRepeat::fill(std::span<double> out)
{
    std::size_t done = 0;
    while (done < out.size()) {
        const std::size_t count = last - first;
        // A sample may go once fade samples follow it, or once it has been mixed across a seam.
        const std::size_t ready = std::max(crossfaded, count > fade ? count - fade : 0);
        if (ready > 0) {
            const std::size_t n = std::min(ready, out.size() - done);
            std::copy_n(held.begin() + static_cast<std::ptrdiff_t>(first), n,
                out.begin() + static_cast<std::ptrdiff_t>(done));
            first += n;
            done += n;
            crossfaded -= std::min(crossfaded, n);
            continue;
        }
        if (!passEnded) {
            std::copy(held.begin() + static_cast<std::ptrdiff_t>(first),
                held.begin() + static_cast<std::ptrdiff_t>(last), held.begin());
            last = count;
            first = 0;
            const std::int64_t got
                = source.read(std::span<double>(held.data() + last, held.size() - last));
            if (got < 0)
                return got;
            if (got == 0)
                passEnded = true;
            last += static_cast<std::size_t>(got);
            passFrames += static_cast<std::uint64_t>(got);
            continue;
        }
        if (passFrames == 0)
            break; // nothing to repeat
        if (!crossSeam(count))
            return -1;
    }
    return static_cast<std::int64_t>(done);
}

// Mixes the pass's last tailFrames samples (at most fade) with the carrier's first ones.
bool CarrierRepeat::crossSeam(std::size_t tailFrames)
{
    if (!source.rewind())
        return false;
    std::size_t got = 0;
    while (got < tailFrames) {
        const std::int64_t n = source.read(std::span<double>(head.data() + got, tailFrames - got));
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    const double quarterTurn = 0.5 * std::numbers::pi;
    for (std::size_t i = 0; i < tailFrames; ++i) {
        const double u = (static_cast<double>(i) + 0.5) / static_cast<double>(tailFrames);
        const double entering = i < got ? head[i] : 0.0;
        double& sample = held[first + i];
        sample = sample * std::cos(quarterTurn * u) + entering * std::sin(quarterTurn * u);
    }
    crossfaded = tailFrames;
    passEnded = false;
    passFrames = got;
    ++seams;
    return true;
}

} // namespace lumivox::engine
