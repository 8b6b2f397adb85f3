#include "block_path.h"

#include "filter_bank.h"
#include "harmonic_blur.h"
#include "spread.h"
// The kernel's vector helpers never cross a call boundary (they are always inlined into a body
// compiled for its unit), so the ABI note GCC gives about passing wide vectors does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
#include "kernel_two_threads.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace lumivox::engine {

// Clarity's values per frame follow the kernel's, for the most bands.
static_assert(VocoderEngine::handOverValues
    == kernel::handOverStride(mostBands) + static_cast<int>(ClarityStage::handOverValues));

// The work of the block path, compiled once per instruction set. The arithmetic of every entry is
// the same element by element, with no contraction anywhere.
struct BlockBody {
    // Analysis of all bands over at most a chunk of frames, and the finishing of frames
    // [first, end) of it.
    void (*analyse)(
        BandLanes&, FrameRows&, const double* carrier, const double* modulator, int frameCount);
    void (*finish)(FrameRows&, const kernel::BlockSettings&, int first, int end, double* output);
    // Both at once, without Vagueness and Instrument Clearance.
    void (*analyseAndFinish)(BandLanes&, FrameRows&, const double* carrier, const double* modulator,
        int frameCount, double outputGain, double* output);
    int width; // lanes per vector
    // The two halves of at most a chunk of frames: the modulator side and the carrier side, or
    // the lower bands and the upper bands.
    void (*modulatorSide)(BandLanes&, FrameRows&, const kernel::BlockSettings&,
        const double* modulator, int frameCount, double* handOver);
    void (*carrierSide)(BandLanes&, FrameRows&, const kernel::BlockSettings&, const double* carrier,
        const double* handOver, int frameCount, double* output);
    void (*lowerBands)(BandLanes&, FrameRows&, const double* carrier, const double* modulator,
        int frameCount, double* sums);
    void (*upperBands)(BandLanes&, FrameRows&, const double* carrier, const double* modulator,
        int frameCount, const double* lowerSums, double outputGain, double* output);
    // Clarity's levelling of the carrier bands the analysis left in the rows.
    void (*levelCarrierBands)(FrameRows&, CarrierLevelling&, int frameCount);
};

namespace {

    using kernel::BlockSettings;

    // Frames per run of a work area: few enough for the work area to stay in the second-level
    // cache, many enough that each group's states are loaded and stored rarely.
    constexpr int chunkFrames = 64;

// The entry points of one instruction set. Each inlines the kernel under its unit's target
// attribute, so the one source gives every unit its own machine code.
#define LUMIVOX_BLOCK_BODY(Unit, Attributes, Width)                                                \
    Attributes void analyse##Unit(BandLanes& lanes, FrameRows& rows, const double* carrier,        \
        const double* modulator, int frameCount)                                                   \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(                                                                   \
            rows, (kernel::analyse<Width>(lanes, fixed, carrier, modulator, frameCount)));         \
    }                                                                                              \
    Attributes void finish##Unit(                                                                  \
        FrameRows& rows, const BlockSettings& settings, int first, int end, double* output)        \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(                                                                   \
            rows, (kernel::finish<Width>(fixed, settings, first, end, output)));                   \
    }                                                                                              \
    Attributes void analyseAndFinish##Unit(BandLanes& lanes, FrameRows& rows,                      \
        const double* carrier, const double* modulator, int frameCount, double outputGain,         \
        double* output)                                                                            \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::analyseAndFinish<Width>(                                                      \
                lanes, fixed, carrier, modulator, frameCount, outputGain, output)));               \
    }                                                                                              \
    Attributes void modulatorSide##Unit(BandLanes& lanes, FrameRows& rows,                         \
        const BlockSettings& settings, const double* modulator, int frameCount, double* handOver)  \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::modulatorSide<Width>(                                                         \
                lanes, fixed, settings, modulator, frameCount, handOver)));                        \
    }                                                                                              \
    Attributes void carrierSide##Unit(BandLanes& lanes, FrameRows& rows,                           \
        const BlockSettings& settings, const double* carrier, const double* handOver,              \
        int frameCount, double* output)                                                            \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::carrierSide<Width>(                                                           \
                lanes, fixed, settings, carrier, handOver, frameCount, output)));                  \
    }                                                                                              \
    Attributes void lowerBands##Unit(BandLanes& lanes, FrameRows& rows, const double* carrier,     \
        const double* modulator, int frameCount, double* sums)                                     \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::lowerBands<Width>(lanes, fixed, carrier, modulator, frameCount, sums)));      \
    }                                                                                              \
    Attributes void upperBands##Unit(BandLanes& lanes, FrameRows& rows, const double* carrier,     \
        const double* modulator, int frameCount, const double* lowerSums, double outputGain,       \
        double* output)                                                                            \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(rows,                                                              \
            (kernel::upperBands<Width>(                                                            \
                lanes, fixed, carrier, modulator, frameCount, lowerSums, outputGain, output)));    \
    }                                                                                              \
    Attributes void levelCarrierBands##Unit(                                                       \
        FrameRows& rows, CarrierLevelling& levelling, int frameCount)                              \
    {                                                                                              \
        LUMIVOX_WITH_FIXED_ROWS(                                                                   \
            rows, (kernel::levelCarrierRows<Width>(fixed, levelling, fixed.bands(), frameCount))); \
    }                                                                                              \
    BlockBody body##Unit()                                                                         \
    {                                                                                              \
        return { analyse##Unit, finish##Unit, analyseAndFinish##Unit, Width, modulatorSide##Unit,  \
            carrierSide##Unit, lowerBands##Unit, upperBands##Unit, levelCarrierBands##Unit };      \
    }

    LUMIVOX_BLOCK_BODY(Portable, , 2)
#if defined(__x86_64__) || defined(__i386__)
    LUMIVOX_BLOCK_BODY(Sse2, __attribute__((target("sse2"))), 2)
    LUMIVOX_BLOCK_BODY(Avx2, __attribute__((target("avx2"))), 4)
    LUMIVOX_BLOCK_BODY(Avx512, __attribute__((target("avx512f"))), 8)
#endif
#undef LUMIVOX_BLOCK_BODY

    BlockBody bodyFor(VectorUnit unit)
    {
        switch (unit) {
#if defined(__x86_64__) || defined(__i386__)
        case VectorUnit::Sse2:
            return bodySse2();
        case VectorUnit::Avx2:
            return bodyAvx2();
        case VectorUnit::Avx512:
            return bodyAvx512();
#endif
        default:
            return bodyPortable();
        }
    }

    // The units this machine runs, without allocating: processBlock asks on its first call.
    struct MachineUnits {
        std::array<VectorUnit, 4> units { VectorUnit::Portable };
        int count = 1;
    };

    MachineUnits machineUnits()
    {
        MachineUnits machine;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("sse2"))
            machine.units[static_cast<std::size_t>(machine.count++)] = VectorUnit::Sse2;
        if (__builtin_cpu_supports("avx2"))
            machine.units[static_cast<std::size_t>(machine.count++)] = VectorUnit::Avx2;
        if (__builtin_cpu_supports("avx512f"))
            machine.units[static_cast<std::size_t>(machine.count++)] = VectorUnit::Avx512;
#endif
        return machine;
    }

    bool runsHere(VectorUnit unit)
    {
        static const MachineUnits machine = machineUnits();
        const auto end = machine.units.begin() + machine.count;
        return std::find(machine.units.begin(), end, unit) != end;
    }

    // The row of levels that weighted the carrier bands of a frame the finishing step has done.
    const double* usedLevels(FrameRows& rows, const BlockSettings& settings, int frame)
    {
        return settings.smoothing || settings.clearing ? rows.smoothed(frame) : rows.levels(frame);
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
    const MachineUnits machine = machineUnits();
    return { machine.units.begin(), machine.units.begin() + machine.count };
}

VectorUnit chooseVectorUnit(const char* requested, std::span<const VectorUnit> available)
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

bool runsOnThisMachine(VectorUnit unit) { return runsHere(unit); }

VectorUnit widestVectorUnit()
{
    // Asked once: processBlock's default needs it without allocating.
    static const VectorUnit widest = [] {
        const MachineUnits machine = machineUnits();
        return machine.units[static_cast<std::size_t>(machine.count - 1)];
    }();
    return widest;
}

VectorChoice vectorChoiceFrom(const char* unitSetting, const char* blockPathSetting)
{
    const MachineUnits machine = machineUnits();
    VectorChoice choice;
    choice.unit = chooseVectorUnit(
        unitSetting, std::span(machine.units.begin(), static_cast<std::size_t>(machine.count)));
    choice.blockPath = blockPathSetting == nullptr || std::strcmp(blockPathSetting, "off") != 0;
    return choice;
}

void processBlockWith(VectorUnit unit, VocoderEngine& engine, std::span<const double> carrier,
    std::span<const double> modulator, std::span<double> output)
{
    engine.runBlock(runsHere(unit) ? unit : VectorUnit::Portable, carrier, modulator, output);
}

BlockPath::BlockPath(const BandLayout& layout)
    : rows(chunkFrames, paddedBandCount(layout.bandCount()), layout.spreadReach())
    , firstRows(chunkFrames, paddedBandCount(layout.bandCount()), layout.spreadReach())
    , secondRows(chunkFrames, paddedBandCount(layout.bandCount()), layout.spreadReach())
{
}

BlockPath::~BlockPath() = default;

const double* BlockPath::runAlone(const BlockBody& body, const BlockSettings& settings,
    const double* carrier, const double* modulator, double* output, int frameCount)
{
    const bool together
        = !settings.blurring && !settings.smoothing && !settings.clearing && !settings.levelling;
    for (int start = 0; start < frameCount; start += chunkFrames) {
        const int frames = std::min(chunkFrames, frameCount - start);
        if (together) {
            body.analyseAndFinish(lanes, rows, carrier + start, modulator + start, frames,
                settings.outputGain, output + start);
        } else {
            body.analyse(lanes, rows, carrier + start, modulator + start, frames);
            if (settings.levelling)
                body.levelCarrierBands(rows, *settings.levelling, frames);
            body.finish(rows, settings, 0, frames, output + start);
        }
    }
    return usedLevels(rows, settings, (frameCount - 1) % chunkFrames);
}

namespace {

    BlockSettings settingsFor(const Spread& spread, const HarmonicBlur& blur, double clearance,
        double outputGain, CarrierLevelling* levelling)
    {
        BlockSettings settings {};
        settings.blur = &blur;
        settings.blurring = blur.on();
        settings.levelling = (levelling != nullptr && levelling->active()) ? levelling : nullptr;
        settings.bands = spread.bands;
        settings.stride = spread.stride;
        settings.weights = spread.bandWeights.data();
        settings.denominators = spread.denominators.data();
        settings.reach = spread.reach;
        settings.smoothing = smooths(spread);
        settings.weightsAllOne = spread.weightsAllOne;
        settings.clearance = clearance;
        settings.clearing = clearance > 0.0;
        settings.outputGain = outputGain;
        return settings;
    }

} // namespace

void BlockPath::firstHalf(VectorUnit unit, FilterBank& bank, const Spread& spread,
    const HarmonicBlur& blur, double clearance, const double* carrier, const double* modulator,
    double* handOver, int frameCount)
{
    if (frameCount <= 0)
        return;
    const BlockSettings settings = settingsFor(spread, blur, clearance, 0.0, levelling);
    const BlockBody body = bodyFor(runsHere(unit) ? unit : VectorUnit::Portable);
    const int lower = kernel::lowerBandCount(firstRows.bands());
    if (kernel::splitsBands(settings)) {
        // The lower bands' sums, then the levels of their last frame.
        firstLanes.loadBands(bank, 0, lower);
        for (int start = 0; start < frameCount; start += chunkFrames) {
            const int frames = std::min(chunkFrames, frameCount - start);
            body.lowerBands(firstLanes, firstRows, carrier + start, modulator + start, frames,
                handOver + start);
        }
        firstLanes.storeBandStates(bank, 0, lower);
        const double* last = firstRows.levels((frameCount - 1) % chunkFrames);
        std::copy_n(last, lower, handOver + frameCount);
        return;
    }
    const int envelopeSections = kernel::envelopeSectionsOnModulatorSide(settings, body.width);
    firstLanes.loadModulatorSide(bank, envelopeSections);
    for (int start = 0; start < frameCount; start += chunkFrames) {
        const int frames = std::min(chunkFrames, frameCount - start);
        body.modulatorSide(firstLanes, firstRows, settings, modulator + start, frames,
            handOver
                + static_cast<std::ptrdiff_t>(start) * kernel::handOverStride(firstRows.bands()));
    }
    firstLanes.storeModulatorSideStates(bank, envelopeSections);
}

void BlockPath::secondHalf(VectorUnit unit, FilterBank& bank, const Spread& spread,
    const HarmonicBlur& blur, double clearance, double outputGain, const double* carrier,
    const double* modulator, const double* handOver, double* output, int frameCount,
    std::span<double> lastLevels)
{
    if (frameCount <= 0)
        return;
    const BlockSettings settings = settingsFor(spread, blur, clearance, outputGain, levelling);
    const BlockBody body = bodyFor(runsHere(unit) ? unit : VectorUnit::Portable);
    const int lastChunkFrame = (frameCount - 1) % chunkFrames;
    const int bands = secondRows.bands();
    const int lower = kernel::lowerBandCount(bands);
    // The layout's own bands of the last frame's levels, without the padding.
    const auto keepLevels = [&lastLevels](const double* first, int from, int to) {
        const int end = std::min(to, static_cast<int>(lastLevels.size()));
        if (from < end)
            std::copy(first + from, first + end, lastLevels.begin() + from);
    };
    if (kernel::splitsBands(settings)) {
        secondLanes.loadBands(bank, lower, bands);
        for (int start = 0; start < frameCount; start += chunkFrames) {
            const int frames = std::min(chunkFrames, frameCount - start);
            body.upperBands(secondLanes, secondRows, carrier + start, modulator + start, frames,
                handOver + start, outputGain, output + start);
        }
        secondLanes.storeBandStates(bank, lower, bands);
        keepLevels(handOver + frameCount, 0, lower);
        keepLevels(secondRows.levels(lastChunkFrame), lower, bands);
        return;
    }
    const int envelopeSections = kernel::envelopeSectionsOnModulatorSide(settings, body.width);
    secondLanes.loadCarrierSide(bank, envelopeSections);
    for (int start = 0; start < frameCount; start += chunkFrames) {
        const int frames = std::min(chunkFrames, frameCount - start);
        body.carrierSide(secondLanes, secondRows, settings, carrier + start,
            handOver + static_cast<std::ptrdiff_t>(start) * kernel::handOverStride(bands), frames,
            output + start);
    }
    secondLanes.storeCarrierSideStates(bank, envelopeSections);
    keepLevels(usedLevels(secondRows, settings, lastChunkFrame), 0, bands);
}

void BlockPath::run(VectorUnit unit, FilterBank& bank, const Spread& spread,
    const HarmonicBlur& blur, double clearance, double outputGain, const double* carrier,
    const double* modulator, double* output, int frameCount, std::span<double> lastLevels)
{
    if (frameCount <= 0)
        return;
    const BlockSettings settings = settingsFor(spread, blur, clearance, outputGain, levelling);
    const BlockBody body = bodyFor(unit);

    lanes.load(bank);
    const double* last = runAlone(body, settings, carrier, modulator, output, frameCount);
    lanes.storeStates(bank);
    std::copy_n(last, lastLevels.size(), lastLevels.begin());
}

} // namespace lumivox::engine
