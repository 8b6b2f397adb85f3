#include "block_path.h"

#include "band_lanes.h"
// The kernel's vector helpers never cross a call boundary (they are always inlined into a body
// compiled for its unit), so the ABI note GCC gives about passing wide vectors does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
#include "block_kernel.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <cstddef>

namespace lumivox::engine {

namespace {

    using kernel::BlockSettings;

    // One entry per instruction set: the kernel is inlined into each, so each is compiled for its
    // own target. Their arithmetic is the same element by element, with no contraction anywhere.
    void runPortable(BandLanes& lanes, const BlockSettings& settings, const double* carrier,
        const double* modulator, double* output, long frameCount)
    {
        kernel::runBlock<2>(lanes, settings, carrier, modulator, output, frameCount);
    }

#if defined(__x86_64__) || defined(__i386__)
    __attribute__((target("sse2"))) void runSse2(BandLanes& lanes, const BlockSettings& settings,
        const double* carrier, const double* modulator, double* output, long frameCount)
    {
        kernel::runBlock<2>(lanes, settings, carrier, modulator, output, frameCount);
    }

    __attribute__((target("avx2"))) void runAvx2(BandLanes& lanes, const BlockSettings& settings,
        const double* carrier, const double* modulator, double* output, long frameCount)
    {
        kernel::runBlock<4>(lanes, settings, carrier, modulator, output, frameCount);
    }

    __attribute__((target("avx512f"))) void runAvx512(BandLanes& lanes,
        const BlockSettings& settings, const double* carrier, const double* modulator,
        double* output, long frameCount)
    {
        kernel::runBlock<8>(lanes, settings, carrier, modulator, output, frameCount);
    }
#endif

    using BlockBody
        = void (*)(BandLanes&, const BlockSettings&, const double*, const double*, double*, long);

    BlockBody bodyFor(VectorUnit unit)
    {
        switch (unit) {
#if defined(__x86_64__) || defined(__i386__)
        case VectorUnit::Sse2:
            return runSse2;
        case VectorUnit::Avx2:
            return runAvx2;
        case VectorUnit::Avx512:
            return runAvx512;
#endif
        default:
            return runPortable;
        }
    }

    BlockSettings settingsOf(const VocoderEngine& engine)
    {
        BlockSettings settings {};
        settings.weights = engine.spreadWeights.data();
        settings.smoothing = engine.vagueness > 0.0;
        settings.spread = 0;
        if (settings.smoothing) {
            while (settings.spread < VocoderEngine::maxSpread
                && engine.spreadWeights[static_cast<std::size_t>(settings.spread + 1)] != 0.0)
                ++settings.spread;
        }
        settings.clearance = engine.clearance;
        settings.clearing = engine.clearance > 0.0;
        settings.outputGain = engine.outputGain;
        settings.bandCount = engine.bandCount;
        return settings;
    }

} // namespace

const char* vectorUnitName(VectorUnit unit)
{
    switch (unit) {
    case VectorUnit::Sse2:
        return "sse2";
    case VectorUnit::Avx2:
        return "avx2";
    case VectorUnit::Avx512:
        return "avx512";
    default:
        return "portable";
    }
}

std::vector<VectorUnit> vectorUnitsOfThisMachine()
{
    std::vector<VectorUnit> units { VectorUnit::Portable };
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2"))
        units.push_back(VectorUnit::Sse2);
    if (__builtin_cpu_supports("avx2"))
        units.push_back(VectorUnit::Avx2);
    if (__builtin_cpu_supports("avx512f"))
        units.push_back(VectorUnit::Avx512);
#endif
    return units;
}

VectorUnit preferredVectorUnit()
{
    static const VectorUnit preferred = vectorUnitsOfThisMachine().back();
    return preferred;
}

void processBlockWith(VectorUnit unit, VocoderEngine& engine, std::span<const double> carrier,
    std::span<const double> modulator, std::span<double> output)
{
    const std::size_t frameCount = std::min({ carrier.size(), modulator.size(), output.size() });
    if (frameCount == 0)
        return;
    if (!engine.blockLanes || !BandLanes::fits(engine)) {
        for (std::size_t t = 0; t < frameCount; ++t)
            output[t] = engine.processSample(carrier[t], modulator[t]);
        return;
    }
    BandLanes& lanes = *engine.blockLanes;
    lanes.load(engine);
    bodyFor(unit)(lanes, settingsOf(engine), carrier.data(), modulator.data(), output.data(),
        static_cast<long>(frameCount));
    lanes.storeStates(engine);
}

} // namespace lumivox::engine
