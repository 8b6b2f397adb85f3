#include "vocoder_engine.h"

#include "band_lanes.h"
#include "block_path.h"
#include "filter_tables.h"

#include <cstddef>
#include <utility>

namespace lumivox::engine {

namespace {

    // Band levels are scaled by one thousandth of 32767, not by 32767.
    constexpr double levelScale = 32.767;

    double clampToUnit(double value)
    {
        if (value > 1.0)
            return 1.0;
        if (value >= 0.0)
            return value;
        return 0.0; // below 0, and not a number
    }

    std::unique_ptr<FilterCascade> makeBandCascade(int band)
    {
        auto cascade = std::make_unique<FilterCascade>(bandSectionCount);
        loadCoefficients(*cascade,
            bandCoefficients().subspan(static_cast<std::size_t>(band * bandRowSize), bandRowSize));
        return cascade;
    }

} // namespace

VocoderEngine::VocoderEngine()
    : blockLanes(std::make_unique<BandLanes>())
{
    buildFilterBank();
    setVagueness(0.0);
}

void VocoderEngine::buildFilterBank()
{
    // The new bank is completed before it replaces the old one, so running out of memory part-way
    // leaves the engine as it was, and everything made so far is released.
    std::vector<std::unique_ptr<FilterCascade>> newCarrierBands(fixedBandCount);
    std::vector<std::unique_ptr<FilterCascade>> newModulatorBands(fixedBandCount);
    std::vector<EnvelopeFollower> newEnvelopes;
    newEnvelopes.reserve(fixedBandCount);
    for (int band = 0; band < fixedBandCount; ++band)
        newEnvelopes.emplace_back();
    for (int band = 0; band < fixedBandCount; ++band) {
        const auto index = static_cast<std::size_t>(band);
        newCarrierBands[index] = makeBandCascade(band);
        newModulatorBands[index] = makeBandCascade(band);
    }

    carrierBands = std::move(newCarrierBands);
    modulatorBands = std::move(newModulatorBands);
    envelopes = std::move(newEnvelopes);
    bandCount = fixedBandCount;
}

void VocoderEngine::setVagueness(double v)
{
    vagueness = clampToUnit(v);
    // Repeated subtraction, not 1 - k * d: the two differ in the last bit for some values, and the
    // weights decide the last bits of every smoothed level.
    const double step = 1.0 - vagueness;
    spreadWeights[0] = 1.0;
    for (std::size_t k = 1; k < spreadWeights.size(); ++k) {
        const double weight = spreadWeights[k - 1] - step;
        spreadWeights[k] = weight < 0.0 ? 0.0 : weight;
    }
}

VocoderEngine::~VocoderEngine() = default;

void VocoderEngine::setClearance(double c) { clearance = clampToUnit(c); }

void VocoderEngine::processBlock(
    std::span<const double> carrier, std::span<const double> modulator, std::span<double> output)
{
    processBlockWith(preferredVectorUnit(), *this, carrier, modulator, output);
}

double VocoderEngine::processSample(double carrier, double modulator)
{
    const auto bands = static_cast<std::size_t>(bandCount);

    // Analysis: the level of each modulator band, and their sum.
    double levelSum = 0.0;
    for (std::size_t i = 0; i < bands; ++i) {
        const double bandSignal = modulatorBands[i]->process(modulator);
        levels[i] = envelopes[i].process(bandSignal) * levelScale;
        levelSum += levels[i];
    }
    const double mean = levelSum / bandCount;

    // Vagueness: each level becomes the weighted mean of itself and its neighbours, all taken from
    // the unsmoothed levels. Weights never increase with distance, so the first 0 ends a side.
    if (vagueness > 0.0) {
        for (std::size_t i = 0; i < bands; ++i) {
            double numerator = levels[i];
            double denominator = 1.0;
            for (std::size_t k = 1; k < spreadWeights.size() && i + k < bands; ++k) {
                if (spreadWeights[k] == 0.0)
                    break;
                numerator += spreadWeights[k] * levels[i + k];
                denominator += spreadWeights[k];
            }
            for (std::size_t k = 1; k < spreadWeights.size() && k <= i; ++k) {
                if (spreadWeights[k] == 0.0)
                    break;
                numerator += spreadWeights[k] * levels[i - k];
                denominator += spreadWeights[k];
            }
            smoothedLevels[i] = numerator / denominator;
        }
        for (std::size_t i = 0; i < bands; ++i)
            levels[i] = smoothedLevels[i];
    }

    // Instrument clearance: pull every level toward the mean of the unsmoothed levels.
    if (clearance > 0.0) {
        for (std::size_t i = 0; i < bands; ++i)
            levels[i] = clearance * mean + (1.0 - clearance) * levels[i];
    }

    // Synthesis: weight each carrier band by its level and sum in band order.
    for (std::size_t i = 0; i < bands; ++i)
        products[i] = carrierBands[i]->process(carrier) * levels[i];
    double total = 0.0;
    for (std::size_t i = 0; i < bands; ++i)
        total += products[i];
    return total * outputGain;
}

} // namespace lumivox::engine
