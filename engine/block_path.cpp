#include "block_path.h"

#include "band_exchange.h"
#include "block_body.h"
#include "filter_bank.h"
#include "harmonic_blur.h"
#include "spread.h"
// The kernel's vector helpers never cross a call boundary (they are always inlined into a body
// compiled for its unit), so the ABI note GCC gives about passing wide vectors does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
#include "kernel_band_split.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace lumivox::engine {

// Clarity's values per frame follow the kernel's, for the most bands.
static_assert(VocoderEngine::handOverValues
    == kernel::handOverStride(mostBands) + static_cast<int>(ClarityStage::handOverValues));

namespace {

    using kernel::BlockSettings;

    // Frames per run of a work area: few enough for the work area to stay in the second-level
    // cache, many enough that each group's states are loaded and stored rarely.
    constexpr int chunkFrames = 64;
    constexpr int sharedChunkFrames = 256;

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

// The two halves' own parts of the bank in lanes and their work areas: the rows of a run a block
// apart, which the sides of a run that shares its frames use as their first work areas beside a
// second one each.
struct BlockPath::Halves {
    Halves(int paddedBands, int spreadReach)
        : firstRows(halfFrames, paddedBands, spreadReach)
        , secondRows(halfFrames, paddedBands, spreadReach)
        , lowerSpareRows(halfFrames, paddedBands, spreadReach)
        , upperSpareRows(halfFrames, paddedBands, spreadReach)
    {
    }
    static constexpr int halfFrames = std::max(chunkFrames, sharedChunkFrames);

    BandLanes firstLanes;
    BandLanes secondLanes;
    FrameRows firstRows;
    FrameRows secondRows;
    FrameRows lowerSpareRows;
    FrameRows upperSpareRows;
    FrameRows* lastUpperArea = nullptr; // the upper side's area that holds its last frame
};

BlockPath::BlockPath(const BandLayout& layout)
    : rows(chunkFrames, paddedBandCount(layout.bandCount()), layout.spreadReach())
    , spreadReach(layout.spreadReach())
{
}

BlockPath::~BlockPath() = default;

void BlockPath::prepareHalves()
{
    if (!halves)
        halves = std::make_unique<Halves>(rows.bands(), spreadReach);
}

BlockPath::Halves& BlockPath::preparedHalves()
{
    if (!halves)
        throw std::logic_error("the engine's halves were used before they were prepared");
    return *halves;
}

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

    // The sides of a run that shares its frames run without the harmonic bands' blur.
    const HarmonicBlur noBlur {};

} // namespace

void BlockPath::firstHalf(VectorUnit unit, FilterBank& bank, const Spread& spread,
    const HarmonicBlur& blur, double clearance, const double* carrier, const double* modulator,
    double* handOver, int frameCount)
{
    Halves& h = preparedHalves();
    if (frameCount <= 0)
        return;
    const BlockSettings settings = settingsFor(spread, blur, clearance, 0.0, levelling);
    const BlockBody body = bodyFor(runsHere(unit) ? unit : VectorUnit::Portable);
    const int lower = kernel::lowerBandCount(h.firstRows.bands());
    if (kernel::splitsBands(settings)) {
        // The lower bands' sums, then the levels of their last frame.
        h.firstLanes.loadBands(bank, 0, lower);
        for (int start = 0; start < frameCount; start += chunkFrames) {
            const int frames = std::min(chunkFrames, frameCount - start);
            body.lowerBands(h.firstLanes, h.firstRows, carrier + start, modulator + start, frames,
                handOver + start);
        }
        h.firstLanes.storeBandStates(bank, 0, lower);
        const double* last = h.firstRows.levels((frameCount - 1) % chunkFrames);
        std::copy_n(last, lower, handOver + frameCount);
        return;
    }
    const int envelopeSections = kernel::envelopeSectionsOnModulatorSide(settings, body.width);
    h.firstLanes.loadModulatorSide(bank, envelopeSections);
    for (int start = 0; start < frameCount; start += chunkFrames) {
        const int frames = std::min(chunkFrames, frameCount - start);
        body.modulatorSide(h.firstLanes, h.firstRows, settings, modulator + start, frames,
            handOver
                + static_cast<std::ptrdiff_t>(start) * kernel::handOverStride(h.firstRows.bands()));
    }
    h.firstLanes.storeModulatorSideStates(bank, envelopeSections);
}

void BlockPath::secondHalf(VectorUnit unit, FilterBank& bank, const Spread& spread,
    const HarmonicBlur& blur, double clearance, double outputGain, const double* carrier,
    const double* modulator, const double* handOver, double* output, int frameCount,
    std::span<double> lastLevels)
{
    Halves& h = preparedHalves();
    if (frameCount <= 0)
        return;
    const BlockSettings settings = settingsFor(spread, blur, clearance, outputGain, levelling);
    const BlockBody body = bodyFor(runsHere(unit) ? unit : VectorUnit::Portable);
    const int lastChunkFrame = (frameCount - 1) % chunkFrames;
    const int bands = h.secondRows.bands();
    const int lower = kernel::lowerBandCount(bands);
    // The layout's own bands of the last frame's levels, without the padding.
    const auto keepLevels = [&lastLevels](const double* first, int from, int to) {
        const int end = std::min(to, static_cast<int>(lastLevels.size()));
        if (from < end)
            std::copy(first + from, first + end, lastLevels.begin() + from);
    };
    if (kernel::splitsBands(settings)) {
        h.secondLanes.loadBands(bank, lower, bands);
        for (int start = 0; start < frameCount; start += chunkFrames) {
            const int frames = std::min(chunkFrames, frameCount - start);
            body.upperBands(h.secondLanes, h.secondRows, carrier + start, modulator + start, frames,
                handOver + start, outputGain, output + start);
        }
        h.secondLanes.storeBandStates(bank, lower, bands);
        keepLevels(handOver + frameCount, 0, lower);
        keepLevels(h.secondRows.levels(lastChunkFrame), lower, bands);
        return;
    }
    const int envelopeSections = kernel::envelopeSectionsOnModulatorSide(settings, body.width);
    h.secondLanes.loadCarrierSide(bank, envelopeSections);
    for (int start = 0; start < frameCount; start += chunkFrames) {
        const int frames = std::min(chunkFrames, frameCount - start);
        body.carrierSide(h.secondLanes, h.secondRows, settings, carrier + start,
            handOver + static_cast<std::ptrdiff_t>(start) * kernel::handOverStride(bands), frames,
            output + start);
    }
    h.secondLanes.storeCarrierSideStates(bank, envelopeSections);
    keepLevels(usedLevels(h.secondRows, settings, lastChunkFrame), 0, bands);
}

bool BlockPath::sharesFrames(const Spread& spread, const HarmonicBlur& blur, double clearance) const
{
    return kernel::splitsBandsWithExchange(
        settingsFor(spread, blur, clearance, 0.0, levelling), rows.bands());
}

// The sides of a run that shares its frames work a chunk apart in their later steps, each chunk in
// one of two work areas: the lower side analyses a chunk, then finishes the one before it; the
// upper side analyses a chunk and weighs its carrier bands, then adds the one before it to the
// lower side's output. So each waits for what the other did a step before, which is there by
// then, rather than for what the other is doing now.
namespace {

    struct Chunk {
        int start = 0;
        int frames = 0;
        int end() const { return start + frames; }
    };

} // namespace

void BlockPath::lowerSide(VectorUnit unit, FilterBank& bank, const Spread& spread,
    double clearance, const double* carrier, const double* modulator, BandExchange& exchange,
    int frameCount)
{
    Halves& h = preparedHalves();
    using Step = BandExchange::Step;
    frameCount = std::min(frameCount, exchange.capacity());
    if (frameCount <= 0)
        return;
    const BlockSettings settings = settingsFor(spread, noBlur, clearance, 0.0, nullptr);
    const BlockBody body = bodyFor(runsHere(unit) ? unit : VectorUnit::Portable);
    const int lower = kernel::lowerBandCount(h.firstRows.bands());
    const int neighbours = kernel::exchangedNeighbours(settings, h.firstRows.bands());
    FrameRows* areas[2] = { &h.firstRows, &h.lowerSpareRows };
    const auto finishChunk = [&](const Chunk& chunk, FrameRows& area) {
        if (!exchange.waitFor(Step::UpperLevels, chunk.end()))
            return false;
        body.lowerOutput(area, settings, chunk.frames, exchange.levelSums() + chunk.start,
            exchange.upperEdge() + chunk.start * neighbours, exchange.lowerOutput() + chunk.start);
        exchange.announce(Step::LowerOutput, chunk.end());
        return true;
    };
    h.firstLanes.loadBands(bank, 0, lower);
    Chunk previous;
    int area = 0;
    bool going = true;
    for (Chunk chunk; going && chunk.start < frameCount; chunk.start += sharedChunkFrames) {
        chunk.frames = std::min(sharedChunkFrames, frameCount - chunk.start);
        body.lowerLevels(h.firstLanes, *areas[area], settings, carrier + chunk.start,
            modulator + chunk.start, chunk.frames, exchange.lowerShare() + chunk.start,
            exchange.lowerEdge() + chunk.start * neighbours);
        exchange.announce(Step::LowerLevels, chunk.end());
        if (previous.frames > 0)
            going = finishChunk(previous, *areas[1 - area]);
        previous = chunk;
        area = 1 - area;
    }
    if (going && finishChunk(previous, *areas[1 - area]))
        std::copy_n(areas[1 - area]->smoothed(previous.frames - 1), lower,
            exchange.lowerLastLevels());
    h.firstLanes.storeBandStates(bank, 0, lower);
}

void BlockPath::upperSide(VectorUnit unit, FilterBank& bank, const Spread& spread,
    double clearance, double outputGain, const double* carrier, const double* modulator,
    BandExchange& exchange, double* output, int frameCount)
{
    Halves& h = preparedHalves();
    using Step = BandExchange::Step;
    frameCount = std::min(frameCount, exchange.capacity());
    if (frameCount <= 0)
        return;
    const BlockSettings settings = settingsFor(spread, noBlur, clearance, outputGain, nullptr);
    const BlockBody body = bodyFor(runsHere(unit) ? unit : VectorUnit::Portable);
    const int bands = h.secondRows.bands();
    const int lower = kernel::lowerBandCount(bands);
    const int neighbours = kernel::exchangedNeighbours(settings, bands);
    FrameRows* areas[2] = { &h.secondRows, &h.upperSpareRows };
    const auto addChunk = [&](const Chunk& chunk, FrameRows& area) {
        if (!exchange.waitFor(Step::LowerOutput, chunk.end()))
            return false;
        body.upperOutput(area, settings, chunk.frames, exchange.lowerOutput() + chunk.start,
            output + chunk.start);
        return true;
    };
    h.secondLanes.loadBands(bank, lower, bands);
    Chunk previous;
    int area = 0;
    bool going = true;
    for (Chunk chunk; going && chunk.start < frameCount; chunk.start += sharedChunkFrames) {
        chunk.frames = std::min(sharedChunkFrames, frameCount - chunk.start);
        FrameRows& work = *areas[area];
        body.upperLevels(h.secondLanes, work, settings, carrier + chunk.start,
            modulator + chunk.start, chunk.frames);
        if (!exchange.waitFor(Step::LowerLevels, chunk.end()))
            break;
        body.upperShare(work, settings, chunk.frames, exchange.lowerShare() + chunk.start,
            exchange.levelSums() + chunk.start, exchange.upperEdge() + chunk.start * neighbours);
        exchange.announce(Step::UpperLevels, chunk.end());
        body.upperProducts(work, settings, chunk.frames, exchange.levelSums() + chunk.start,
            exchange.lowerEdge() + chunk.start * neighbours);
        if (previous.frames > 0)
            going = addChunk(previous, *areas[1 - area]);
        previous = chunk;
        area = 1 - area;
    }
    if (going)
        addChunk(previous, *areas[1 - area]);
    h.lastUpperArea = areas[1 - area];
    h.secondLanes.storeBandStates(bank, lower, bands);
}

void BlockPath::lastLevelsOfBoth(
    BandExchange& exchange, int frameCount, std::span<double> lastLevels)
{
    Halves& h = preparedHalves();
    frameCount = std::min(frameCount, exchange.capacity());
    if (frameCount <= 0 || h.lastUpperArea == nullptr)
        return;
    const int bands = std::min(h.secondRows.bands(), static_cast<int>(lastLevels.size()));
    const int lower = std::min(kernel::lowerBandCount(h.secondRows.bands()), bands);
    std::copy_n(exchange.lowerLastLevels(), lower, lastLevels.begin());
    const double* upper = h.lastUpperArea->smoothed((frameCount - 1) % sharedChunkFrames);
    std::copy(upper + lower, upper + bands, lastLevels.begin() + lower);
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
