#pragma once

#include <cstdint>

namespace lumivox::engine {

// Uniform white noise in [-1, 1) from a 64-bit generator (splitmix64): the same seed gives the same
// samples on every machine, which no standard library distribution promises.
class WhiteNoise {
public:
    explicit WhiteNoise(std::uint64_t seed)
        : state(seed)
    {
    }

    double next()
    {
        state += 0x9e3779b97f4a7c15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        z ^= z >> 31;
        // The top 53 bits as a fraction in [0, 1), mapped onto [-1, 1).
        return static_cast<double>(z >> 11) * 0x1.0p-52 - 1.0;
    }

private:
    std::uint64_t state;
};

} // namespace lumivox::engine
