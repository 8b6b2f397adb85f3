#include "block_path.h"

#include "band_alignment.h"
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
// The levels next to the split go across in whole groups of eight lanes.
static_assert(BandExchange::edgeValues >= maxSpread && BandExchange::edgeValues % 8 == 0);
static_assert(VocoderEngine::handOverValues
    == kernel::handOverStride(mostBands) + static_cast<int>(ClarityStage::handOverValues));

namespace {

    using kernel::BlockSettings;

    // Frames per run of a work area: few enough for the work area to stay in the second-level
    // cache, many enough that each group's states are loaded and stored rarely.
    constexpr int chunkFrames = 64;
    constexpr int sharedChunkFrames = 256;

    // The row of levels that weighted the carrier bands of a frame the finishing step has done.
    const double* usedLevels(FrameRows& rows, const BlockSettings& settings, int frame)
    {
        return settings.smoothing || settings.clearing ? rows.smoothed(frame) : rows.levels(frame);
    }

} // namespace

namespace {

    // Frames of the modulator that go with their past into a work area at a time, a whole number
    // of chunks of either kind.
    constexpr int alignedSegment = 1024;
    static_assert(alignedSegment % chunkFrames == 0 && alignedSegment % sharedChunkFrames == 0);

    // Room for a segment and the past before it.
    std::vector<double> inputWithPast(const BandAlignment* alignment)
    {
        if (alignment == nullptr || alignment->longestDelay() == 0)
            return {};
        return std::vector<double>(
            static_cast<std::size_t>(alignment->longestDelay() + alignedSegment), 0.0);
    }

    // Runs part(input, start, frames) over the block segment by segment, input holding the
    // segment's modulator with the alignment's past before it, and keeps the block's end as the
    // past for the next block.
    template <typename Part>
    void withPast(BandAlignment& alignment, std::vector<double>& input, const double* modulator,
        int frameCount, const Part& part)
    {
        const int past = alignment.longestDelay();
        alignment.copyPast(input.data());
        for (int start = 0; start < frameCount; start += alignedSegment) {
            const int frames = std::min(alignedSegment, frameCount - start);
            std::copy_n(modulator + start, frames, input.data() + past);
            part(input.data() + past, start, frames);
            std::copy_n(input.data() + frames, past, input.data());
        }
        alignment.keepPast(input.data());
    }

} // namespace

void processBlockWith(VectorUnit unit, VocoderEngine& engine, std::span<const double> carrier,
    std::span<const double> modulator, std::span<double> output)
{
    engine.runBlock(runsOnThisMachine(unit) ? unit : VectorUnit::Portable, carrier, modulator, output);
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
    std::vector<double> firstInput; // the modulator with its past, for the first half
};

BlockPath::BlockPath(const BandLayout& layout)
    : rows(chunkFrames, paddedBandCount(layout.bandCount()), layout.spreadReach())
    , spreadReach(layout.spreadReach())
{
    rows.setLiveBands(layout.bandCount());
}

BlockPath::~BlockPath() = default;

void BlockPath::prepareHalves()
{
    if (!halves) {
        auto made = std::make_unique<Halves>(rows.bands(), spreadReach);
        made->firstInput = inputWithPast(alignment);
        halves = std::move(made);
    }
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

bool BlockPath::aligning() const { return alignment != nullptr && alignment->active(); }


void BlockPath::setAlignment(BandAlignment* bandAlignment)
{
    std::vector<double> input = inputWithPast(bandAlignment);
    std::vector<double> halvesInput = halves ? inputWithPast(bandAlignment) : std::vector<double> {};
    alignment = bandAlignment;
    alignedInput = std::move(input);
    if (halves)
        halves->firstInput = std::move(halvesInput);
}

namespace {

    BlockSettings settingsFor(const Spread& spread, const HarmonicBlur& blur, double clearance,
        double outputGain, CarrierLevelling* levelling, bool aligning)
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
        settings.aligning = aligning;
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
    const BlockSettings settings = settingsFor(spread, blur, clearance, 0.0, levelling, aligning());
    const BlockBody body = bodyFor(runsOnThisMachine(unit) ? unit : VectorUnit::Portable);
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
    const auto modulatorSide = [&](const double* input, int first, int count) {
        for (int start = 0; start < count; start += chunkFrames) {
            const int frames = std::min(chunkFrames, count - start);
            body.modulatorSide(h.firstLanes, h.firstRows, settings, input + start, frames,
                handOver
                    + static_cast<std::ptrdiff_t>(first + start)
                        * kernel::handOverStride(h.firstRows.bands()));
        }
    };
    if (settings.aligning) {
        h.firstLanes.modulatorDelays = alignment->delays();
        withPast(*alignment, h.firstInput, modulator, frameCount, modulatorSide);
        h.firstLanes.modulatorDelays = nullptr;
    } else {
        modulatorSide(modulator, 0, frameCount);
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
    const BlockSettings settings = settingsFor(spread, blur, clearance, outputGain, levelling, aligning());
    const BlockBody body = bodyFor(runsOnThisMachine(unit) ? unit : VectorUnit::Portable);
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
        settingsFor(spread, blur, clearance, 0.0, levelling, aligning()), rows.bands());
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
    const BlockSettings settings = settingsFor(spread, noBlur, clearance, 0.0, nullptr, false);
    const BlockBody body = bodyFor(runsOnThisMachine(unit) ? unit : VectorUnit::Portable);
    const int lower = kernel::lowerBandCount(h.firstRows.bands());
    const int span = kernel::exchangedSpan(settings, h.firstRows.bands());
    FrameRows* areas[2] = { &h.firstRows, &h.lowerSpareRows };
    const auto finishChunk = [&](const Chunk& chunk, FrameRows& area) {
        if (!exchange.waitFor(Step::UpperLevels, chunk.end()))
            return false;
        body.lowerOutput(area, settings, chunk.frames, exchange.levelSums() + chunk.start,
            exchange.upperEdge() + chunk.start * span, exchange.lowerOutput() + chunk.start);
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
            exchange.lowerEdge() + chunk.start * span);
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
    const BlockSettings settings = settingsFor(spread, noBlur, clearance, outputGain, nullptr, false);
    const BlockBody body = bodyFor(runsOnThisMachine(unit) ? unit : VectorUnit::Portable);
    const int bands = h.secondRows.bands();
    const int lower = kernel::lowerBandCount(bands);
    const int span = kernel::exchangedSpan(settings, bands);
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
            modulator + chunk.start, chunk.frames, exchange.upperEdge() + chunk.start * span);
        if (!exchange.waitFor(Step::LowerLevels, chunk.end()))
            break;
        body.upperShare(work, settings, chunk.frames, exchange.lowerShare() + chunk.start,
            exchange.levelSums() + chunk.start, exchange.upperEdge() + chunk.start * span);
        exchange.announce(Step::UpperLevels, chunk.end());
        body.upperProducts(work, settings, chunk.frames, exchange.levelSums() + chunk.start,
            exchange.lowerEdge() + chunk.start * span);
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
    const BlockSettings settings = settingsFor(spread, blur, clearance, outputGain, levelling, aligning());
    const BlockBody body = bodyFor(unit);

    lanes.load(bank);
    const double* last = nullptr;
    if (settings.aligning) {
        lanes.modulatorDelays = alignment->delays();
        withPast(*alignment, alignedInput, modulator, frameCount,
            [&](const double* input, int start, int frames) {
                last = runAlone(body, settings, carrier + start, input, output + start, frames);
            });
        lanes.modulatorDelays = nullptr;
    } else {
        last = runAlone(body, settings, carrier, modulator, output, frameCount);
    }
    lanes.storeStates(bank);
    std::copy_n(last, lastLevels.size(), lastLevels.begin());
}

} // namespace lumivox::engine
