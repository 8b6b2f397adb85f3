#include "block_path.h"

#include "band_worker.h"
#include "filter_bank.h"
#include "spread.h"
// The kernel's vector helpers never cross a call boundary (they are always inlined into a body
// compiled for its unit), so the ABI note GCC gives about passing wide vectors does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
#include "block_kernel.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace lumivox::engine {

namespace {

    using kernel::BlockSettings;

    // Frames per run of the work area on one thread: small enough to stay in the first-level cache.
    constexpr int chunkFrames = 64;
    // Frames per slice on two threads: each slice costs the threads two meetings.
    constexpr int sliceFrames = 512;
    // Shorter blocks stay on one thread: handing them over would cost more than it saves.
    constexpr int twoThreadMinimumFrames = 1024;

    // The two halves of the work, compiled once per instruction set. Their arithmetic is the same
    // element by element, with no contraction anywhere.
    struct Body {
        void (*analyse)(BandLanes&, FrameRows&, int firstBand, int endBand, const double* carrier,
            const double* modulator, int frameCount);
        void (*finish)(FrameRows&, const BlockSettings&, int first, int end, double* output);
    };

    void analysePortable(BandLanes& lanes, FrameRows& rows, int firstBand, int endBand,
        const double* carrier, const double* modulator, int frameCount)
    {
        kernel::analyse<2>(lanes, rows, firstBand, endBand, carrier, modulator, frameCount);
    }
    void finishPortable(
        FrameRows& rows, const BlockSettings& settings, int first, int end, double* output)
    {
        kernel::finish<2>(rows, settings, first, end, output);
    }

#if defined(__x86_64__) || defined(__i386__)
    __attribute__((target("sse2"))) void analyseSse2(BandLanes& lanes, FrameRows& rows,
        int firstBand, int endBand, const double* carrier, const double* modulator, int frameCount)
    {
        kernel::analyse<2>(lanes, rows, firstBand, endBand, carrier, modulator, frameCount);
    }
    __attribute__((target("sse2"))) void finishSse2(
        FrameRows& rows, const BlockSettings& settings, int first, int end, double* output)
    {
        kernel::finish<2>(rows, settings, first, end, output);
    }

    __attribute__((target("avx2"))) void analyseAvx2(BandLanes& lanes, FrameRows& rows,
        int firstBand, int endBand, const double* carrier, const double* modulator, int frameCount)
    {
        kernel::analyse<4>(lanes, rows, firstBand, endBand, carrier, modulator, frameCount);
    }
    __attribute__((target("avx2"))) void finishAvx2(
        FrameRows& rows, const BlockSettings& settings, int first, int end, double* output)
    {
        kernel::finish<4>(rows, settings, first, end, output);
    }

    __attribute__((target("avx512f"))) void analyseAvx512(BandLanes& lanes, FrameRows& rows,
        int firstBand, int endBand, const double* carrier, const double* modulator, int frameCount)
    {
        kernel::analyse<8>(lanes, rows, firstBand, endBand, carrier, modulator, frameCount);
    }
    __attribute__((target("avx512f"))) void finishAvx512(
        FrameRows& rows, const BlockSettings& settings, int first, int end, double* output)
    {
        kernel::finish<8>(rows, settings, first, end, output);
    }
#endif

    Body bodyFor(VectorUnit unit)
    {
        switch (unit) {
#if defined(__x86_64__) || defined(__i386__)
        case VectorUnit::Sse2:
            return { analyseSse2, finishSse2 };
        case VectorUnit::Avx2:
            return { analyseAvx2, finishAvx2 };
        case VectorUnit::Avx512:
            return { analyseAvx512, finishAvx512 };
#endif
        default:
            return { analysePortable, finishPortable };
        }
    }

    bool runsHere(VectorUnit unit)
    {
        static const std::vector<VectorUnit> units = vectorUnitsOfThisMachine();
        return std::find(units.begin(), units.end(), unit) != units.end();
    }

    // The row of levels that weighted the carrier bands of a frame the finishing step has done.
    const double* usedLevels(FrameRows& rows, const BlockSettings& settings, int frame)
    {
        return settings.smoothing ? rows.smoothed(frame) : rows.levels(frame);
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

VectorUnit chooseVectorUnit(const char* requested, const std::vector<VectorUnit>& available)
{
    if (requested != nullptr) {
        for (VectorUnit asked :
            { VectorUnit::Portable, VectorUnit::Sse2, VectorUnit::Avx2, VectorUnit::Avx512 }) {
            if (std::strcmp(requested, vectorUnitName(asked)) != 0)
                continue;
            VectorUnit chosen = available.front();
            for (VectorUnit unit : available) {
                if (unit <= asked)
                    chosen = unit;
            }
            return chosen;
        }
    }
    return available.back();
}

VectorUnit preferredVectorUnit()
{
    static const VectorUnit preferred
        = chooseVectorUnit(std::getenv("LUMIVOX_VECTOR_UNIT"), vectorUnitsOfThisMachine());
    return preferred;
}

void processBlockWith(VectorUnit unit, VocoderEngine& engine, std::span<const double> carrier,
    std::span<const double> modulator, std::span<double> output)
{
    engine.runBlock(runsHere(unit) ? unit : VectorUnit::Portable, carrier, modulator, output);
}

// What both threads read during one run.
struct BlockPath::Shared {
    Body body;
    BlockSettings settings;
    BandLanes* lanes;
    FrameRows* rows[2];
    BandWorker* worker;
    const double* carrier;
    const double* modulator;
    double* output;
    int frameCount;
};

BlockPath::BlockPath()
    : rows(chunkFrames)
{
}

BlockPath::~BlockPath() = default;

bool BlockPath::setTwoThreads(bool enabled)
{
    if (!enabled) {
        worker.reset();
        return false;
    }
    if (worker)
        return true;
    if (std::thread::hardware_concurrency() < 2)
        return false;
    for (auto& slice : sliceRows) {
        if (!slice)
            slice = std::make_unique<FrameRows>(sliceFrames);
    }
    try {
        worker = std::make_unique<BandWorker>();
    } catch (const std::system_error&) {
        return false; // no thread to be had: one thread does it all, as before
    }
    return true;
}

// Analysis is split by bands and finishing by frames. The halves meet after each slice's analysis;
// the slices use the two work areas in turn, so that one thread may analyse the next slice while
// the other still finishes this one.
void BlockPath::runHalf(void* context, int half)
{
    const Shared& shared = *static_cast<const Shared*>(context);
    const int firstBand = half * (bandCount / 2);
    for (int start = 0, slice = 0; start < shared.frameCount; start += sliceFrames, ++slice) {
        FrameRows& sliceRows = *shared.rows[slice % 2];
        const int frames = std::min(sliceFrames, shared.frameCount - start);
        shared.body.analyse(*shared.lanes, sliceRows, firstBand, firstBand + bandCount / 2,
            shared.carrier + start, shared.modulator + start, frames);
        shared.worker->meet(half);
        const int split = frames / 16 * 8; // whole cache lines of output to each thread
        shared.body.finish(sliceRows, shared.settings, half == 0 ? 0 : split,
            half == 0 ? split : frames, shared.output + start);
    }
}

void BlockPath::run(VectorUnit unit, FilterBank& bank, const Spread& spread, double clearance,
    double outputGain, const double* carrier, const double* modulator, double* output,
    int frameCount, std::array<double, bandCount>& lastLevels)
{
    if (frameCount <= 0)
        return;
    BlockSettings settings {};
    settings.weights = spread.weights.data();
    settings.denominators = spread.denominators.data();
    settings.reach = spread.reach;
    settings.smoothing = spread.vagueness > 0.0;
    settings.weightsAllOne = std::all_of(spread.weights.begin() + 1,
        spread.weights.begin() + 1 + spread.reach, [](double weight) { return weight == 1.0; });
    settings.clearance = clearance;
    settings.clearing = clearance > 0.0;
    settings.outputGain = outputGain;
    const Body body = bodyFor(unit);

    lanes.load(bank);
    const double* last = nullptr;
    if (worker && frameCount >= twoThreadMinimumFrames) {
        Shared shared { body, settings, &lanes, { sliceRows[0].get(), sliceRows[1].get() },
            worker.get(), carrier, modulator, output, frameCount };
        worker->runBoth(runHalf, &shared);
        const int lastSlice = (frameCount - 1) / sliceFrames;
        last = usedLevels(
            *sliceRows[lastSlice % 2], settings, frameCount - 1 - lastSlice * sliceFrames);
    } else {
        for (int start = 0; start < frameCount; start += chunkFrames) {
            const int frames = std::min(chunkFrames, frameCount - start);
            body.analyse(lanes, rows, 0, bandCount, carrier + start, modulator + start, frames);
            body.finish(rows, settings, 0, frames, output + start);
        }
        last = usedLevels(rows, settings, (frameCount - 1) % chunkFrames);
    }
    lanes.storeStates(bank);
    std::copy(last, last + bandCount, lastLevels.begin());
}

} // namespace lumivox::engine
