#include "pitch_correlation.h"

#include "block_path.h"

#include <cstring>

// The vector helpers are inlined into each unit's entry point and never cross a call boundary.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace lumivox::engine {

namespace {

    // Lags summed together in one pass over the window: so many chains of additions in flight.
    constexpr int vectorsPerPass = 8;

    template <int Width> struct Lanes {
        typedef double Values __attribute__((vector_size(Width * sizeof(double))));
    };

    template <int Width>
    inline __attribute__((always_inline)) void correlate(
        const double* samples, int window, int lags, double* out)
    {
        using V = typename Lanes<Width>::Values;
        constexpr int lagsPerPass = Width * vectorsPerPass;
        static_assert(lagsPerPass <= pitchCorrelationOverrun);
        for (int first = 1; first <= lags; first += lagsPerPass) {
            V sums[vectorsPerPass] = {};
            for (int j = 0; j < window; ++j) {
                const double x = samples[j];
                const double* shifted = samples + j + first;
                for (int v = 0; v < vectorsPerPass; ++v) {
                    V later;
                    std::memcpy(&later, shifted + v * Width, sizeof later);
                    sums[v] = sums[v] + x * later;
                }
            }
            std::memcpy(out + first - 1, sums, sizeof sums);
        }
    }

#define LUMIVOX_PITCH_CORRELATION(Unit, Attributes, Width)                                         \
    Attributes void correlate##Unit(const double* samples, int window, int lags, double* out)       \
    {                                                                                              \
        correlate<Width>(samples, window, lags, out);                                              \
    }

    LUMIVOX_PITCH_CORRELATION(Portable, , 2)
#if defined(__x86_64__) || defined(__i386__)
    LUMIVOX_PITCH_CORRELATION(Avx2, __attribute__((target("avx2"))), 4)
    LUMIVOX_PITCH_CORRELATION(Avx512, __attribute__((target("avx512f"))), 8)
#endif
#undef LUMIVOX_PITCH_CORRELATION

} // namespace

PitchCorrelation pitchCorrelationFor(VectorUnit unit)
{
#if defined(__x86_64__) || defined(__i386__)
    if (runsOnThisMachine(unit)) {
        if (unit == VectorUnit::Avx512)
            return correlateAvx512;
        if (unit == VectorUnit::Avx2)
            return correlateAvx2;
    }
#endif
    // SSE2 is what the portable code is compiled for on x86-64 already.
    return correlatePortable;
}

} // namespace lumivox::engine
