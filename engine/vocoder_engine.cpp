#include "vocoder_engine.h"

#include "band_exchange.h"
#include "unit_range.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace lumivox::engine {

VocoderEngine::VocoderEngine()
    : VocoderEngine(BandLayout::classic())
{
}

VocoderEngine::VocoderEngine(BandLayout layout, VectorChoice choice)
    : bandLayout(std::move(layout))
    , vectors(choice)
    , filterBank(bandLayout)
    , spread(makeSpread(0.0, bandLayout))
    , clarityStage(bandLayout)
    , carrierLevelling(bandLayout.designRate())
    , bandAlignment(bandLayout, filterBank)
    , blockPath(std::make_unique<BlockPath>(bandLayout))
{
    blockPath->setLevelling(&carrierLevelling);
    blockPath->setAlignment(&bandAlignment);
}

VocoderEngine::~VocoderEngine() = default;

void VocoderEngine::buildFilterBank()
{
    // The new bank is complete before it replaces the old one.
    filterBank = FilterBank(bandLayout);
}

void VocoderEngine::setVagueness(double v) { spread = makeSpread(clampToUnit(v), bandLayout); }

void VocoderEngine::setHarmonicBandBlur(int radius)
{
    harmonicBlur = makeHarmonicBlur(radius, bandLayout);
}

void VocoderEngine::setClearance(double c) { clearanceAmount = clampToUnit(c); }

void VocoderEngine::setClarity(double c)
{
    clarityStage.setAmount(c);
    if (!bandLayout.isClassic()) {
        carrierLevelling.setAmount(clarityStage.strengthApplied());
        bandAlignment.setActive(carrierLevelling.active());
    }
}

void VocoderEngine::setOutputGain(double outputGain) { gain = outputGain; }

void VocoderEngine::processBlock(
    std::span<const double> carrier, std::span<const double> modulator, std::span<double> output)
{
    if (!vectors.blockPath) {
        const std::size_t frameCount
            = std::min({ carrier.size(), modulator.size(), output.size() });
        for (std::size_t t = 0; t < frameCount; ++t)
            output[t] = processSample(carrier[t], modulator[t]);
        return;
    }
    runBlock(vectors.unit, carrier, modulator, output);
}

void VocoderEngine::runBlock(VectorUnit unit, std::span<const double> carrier,
    std::span<const double> modulator, std::span<double> output)
{
    const std::size_t frameCount = std::min({ carrier.size(), modulator.size(), output.size() });
    // Blocks beyond what an int counts (16 GB of doubles) go through in pieces.
    constexpr std::size_t piece = std::size_t { 1 } << 30;
    for (std::size_t start = 0; start < frameCount; start += piece) {
        const std::size_t frames = std::min(piece, frameCount - start);
        blockPath->run(unit, filterBank, spread, harmonicBlur, clearanceAmount, gain,
            carrier.data() + start, modulator.data() + start, output.data() + start,
            static_cast<int>(frames),
            std::span<double>(levels).first(static_cast<std::size_t>(bandCount())));
    }
    addClarity(unit, carrier.data(), modulator.data(), output.data(), frameCount);
}

void VocoderEngine::addClarity(VectorUnit unit, const double* carrier, const double* modulator,
    double* output, std::size_t frameCount)
{
    if (!(clarityStage.amount() > 0.0))
        return;
    clarityStage.processBlock(unit, carrier, modulator, output, frameCount, gain);
}

namespace {

    // Frames per call into the block path's halves, few enough for an int to count their values.
    constexpr std::size_t halfPiece = std::size_t { 1 } << 24;
    constexpr auto valuesPerFrame = static_cast<std::size_t>(VocoderEngine::handOverValues);
    // Clarity's values, made from the modulator on the first half's thread: at the end of the
    // hand-over, past everything the bands may leave there.
    std::size_t clarityOffset(std::size_t handOverSize)
    {
        return handOverSize / valuesPerFrame * (valuesPerFrame - ClarityStage::handOverValues);
    }

} // namespace

void VocoderEngine::firstHalf(std::span<const double> carrier, std::span<const double> modulator,
    std::span<double> handOver, VectorUnit unit)
{
    const std::size_t frameCount
        = std::min({ carrier.size(), modulator.size(), handOver.size() / valuesPerFrame });
    for (std::size_t start = 0; start < frameCount; start += halfPiece) {
        const std::size_t frames = std::min(halfPiece, frameCount - start);
        blockPath->firstHalf(unit, filterBank, spread, harmonicBlur, clearanceAmount,
            carrier.data() + start, modulator.data() + start,
            handOver.data() + start * valuesPerFrame, static_cast<int>(frames));
    }
    if (clarityStage.amount() > 0.0)
        clarityStage.firstPart(unit, carrier.data(), modulator.data(),
            handOver.data() + clarityOffset(handOver.size()), frameCount);
}

void VocoderEngine::secondHalf(std::span<const double> carrier, std::span<const double> modulator,
    std::span<const double> handOver, std::span<double> output, VectorUnit unit)
{
    const std::size_t frameCount = std::min(
        { carrier.size(), modulator.size(), handOver.size() / valuesPerFrame, output.size() });
    for (std::size_t start = 0; start < frameCount; start += halfPiece) {
        const std::size_t frames = std::min(halfPiece, frameCount - start);
        blockPath->secondHalf(unit, filterBank, spread, harmonicBlur, clearanceAmount, gain,
            carrier.data() + start, modulator.data() + start,
            handOver.data() + start * valuesPerFrame, output.data() + start,
            static_cast<int>(frames),
            std::span<double>(levels).first(static_cast<std::size_t>(bandCount())));
    }
    if (clarityStage.amount() > 0.0)
        clarityStage.secondPart(unit, carrier.data(),
            handOver.data() + clarityOffset(handOver.size()), output.data(), frameCount, gain);
}

bool VocoderEngine::halvesShareFrames() const
{
    return blockPath->sharesFrames(spread, harmonicBlur, clearanceAmount);
}

void VocoderEngine::lowerHalf(std::span<const double> carrier, std::span<const double> modulator,
    std::span<double> handOver, BandExchange& exchange, VectorUnit unit)
{
    const std::size_t frameCount = std::min({ carrier.size(), modulator.size(),
        handOver.size() / valuesPerFrame, static_cast<std::size_t>(exchange.capacity()) });
    const int frames = static_cast<int>(frameCount);
    blockPath->lowerSide(unit, filterBank, spread, clearanceAmount, carrier.data(),
        modulator.data(), exchange, frames);
    if (clarityStage.amount() > 0.0 && !exchange.abandoned())
        clarityStage.firstPart(unit, carrier.data(), modulator.data(),
            handOver.data() + clarityOffset(handOver.size()), frameCount);
    exchange.announce(BandExchange::Step::LowerDone, frames);
}

void VocoderEngine::upperHalf(std::span<const double> carrier, std::span<const double> modulator,
    std::span<const double> handOver, BandExchange& exchange, std::span<double> output,
    VectorUnit unit)
{
    const std::size_t frameCount = std::min({ carrier.size(), modulator.size(),
        handOver.size() / valuesPerFrame, output.size(),
        static_cast<std::size_t>(exchange.capacity()) });
    const int frames = static_cast<int>(frameCount);
    blockPath->upperSide(unit, filterBank, spread, clearanceAmount, gain, carrier.data(),
        modulator.data(), exchange, output.data(), frames);
    if (!exchange.waitFor(BandExchange::Step::LowerDone, frames))
        return;
    blockPath->lastLevelsOfBoth(
        exchange, frames, std::span<double>(levels).first(static_cast<std::size_t>(bandCount())));
    if (clarityStage.amount() > 0.0)
        clarityStage.secondPart(unit, carrier.data(),
            handOver.data() + clarityOffset(handOver.size()), output.data(), frameCount, gain);
}

double VocoderEngine::processSample(double carrier, double modulator)
{
    const auto bands = static_cast<std::size_t>(bandCount());

    // Analysis: the level of each modulator band, and their sum.
    const bool aligning = bandAlignment.active();
    double levelSum = 0.0;
    for (std::size_t i = 0; i < bands; ++i) {
        const double input
            = aligning ? bandAlignment.delayedInput(static_cast<int>(i), modulator) : modulator;
        const double bandSignal = filterBank.modulatorBands[i].process(input);
        levels[i] = filterBank.envelopes[i].process(bandSignal) * levelScale;
        levelSum += levels[i];
    }
    if (aligning)
        bandAlignment.push(modulator);

    // The harmonic bands' blur, before everything else that reads the levels.
    if (harmonicBlur.on()) {
        std::array<double, HarmonicBlur::workValues(mostBands)> work;
        blurAlongBands<1, double>(
            harmonicBlur,
            [this](int, int i) -> double& { return levels[static_cast<std::size_t>(i)]; },
            work.data());
        levelSum = 0.0;
        for (std::size_t i = 0; i < bands; ++i)
            levelSum += levels[i];
    }
    const double mean = levelSum / static_cast<double>(bandCount());

    // Vagueness: each level becomes the weighted mean of itself and its neighbours, all taken from
    // the unsmoothed levels, upward neighbours first.
    if (smooths(spread)) {
        std::array<double, mostBands> smoothedLevels;
        const auto reach = static_cast<std::size_t>(spread.reach);
        for (std::size_t i = 0; i < bands; ++i) {
            const auto stride = static_cast<std::size_t>(spread.stride);
            const auto weight = [&](std::size_t k) { return spread.bandWeights[k * stride + i]; };
            double numerator = levels[i];
            for (std::size_t k = 1; k <= reach && i + k < bands; ++k)
                numerator += weight(k) * levels[i + k];
            for (std::size_t k = 1; k <= reach && k <= i; ++k)
                numerator += weight(k) * levels[i - k];
            smoothedLevels[i] = numerator / spread.denominators[i];
        }
        std::copy_n(smoothedLevels.begin(), bands, levels.begin());
    }

    // Instrument clearance: pull every level toward the mean of the unsmoothed levels.
    if (clearanceAmount > 0.0) {
        for (std::size_t i = 0; i < bands; ++i)
            levels[i] = clearanceAmount * mean + (1.0 - clearanceAmount) * levels[i];
    }

    // Synthesis: weight each carrier band by its level and sum in band order.
    std::array<double, mostBands> products;
    for (std::size_t i = 0; i < bands; ++i) {
        double carrierBand = filterBank.carrierBands[i].process(carrier);
        if (carrierLevelling.active())
            carrierBand = carrierLevelling.step(static_cast<int>(i), carrierBand);
        products[i] = carrierBand * levels[i];
    }
    double total = 0.0;
    for (std::size_t i = 0; i < bands; ++i)
        total += products[i];
    const double output = total * gain;
    if (clarityStage.amount() > 0.0)
        return clarityStage.process(carrier, modulator, output, gain);
    return output;
}

} // namespace lumivox::engine
