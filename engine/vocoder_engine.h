#pragma once

#include "filter_primitives.h"

#include <array>
#include <memory>
#include <span>
#include <vector>

namespace lumivox::engine {

struct BandLanes;

// The 32-band channel vocoder: one carrier and one modulator sample in, one output sample out.
class VocoderEngine {
public:
    static constexpr int fixedBandCount = 32;
    static constexpr int maxSpread = 14;

    VocoderEngine();
    ~VocoderEngine();
    VocoderEngine(const VocoderEngine&) = delete;
    VocoderEngine& operator=(const VocoderEngine&) = delete;

    // Replaces the bank (if any) with a freshly built one in zero state.
    void buildFilterBank();

    void setVagueness(double v); // clamped to [0, 1]; refills spreadWeights
    void setClearance(double c); // clamped to [0, 1]

    // Carrier in its integer sample units, modulator normalised to about +-1; result not clamped.
    double processSample(double carrier, double modulator);

    // processSample once per frame, for as many frames as the shortest span holds, giving the same
    // bits; the bands run side by side in vector lanes on the widest unit this machine has.
    void processBlock(std::span<const double> carrier, std::span<const double> modulator,
        std::span<double> output);

    // The level that shaped each carrier band (after Vagueness and Clearance) at the last frame
    // processed. For now only processSample keeps it current.
    std::span<const double, fixedBandCount> bandLevels() const { return levels; }

    std::vector<std::unique_ptr<FilterCascade>> modulatorBands;
    std::vector<std::unique_ptr<FilterCascade>> carrierBands;
    std::vector<EnvelopeFollower> envelopes;
    int bandCount = 0;
    std::array<double, maxSpread + 1> spreadWeights {};
    std::array<double, fixedBandCount> smoothedLevels {};
    double vagueness = 0.0;
    double clearance = 0.0;
    double outputGain = 1.0;
    std::unique_ptr<BandLanes> blockLanes; // the work area of processBlock

private:
    // Per-call work arrays (band levels and band products), kept here so a call allocates nothing.
    std::array<double, fixedBandCount> levels {};
    std::array<double, fixedBandCount> products {};
};

} // namespace lumivox::engine
