#pragma once

#include "band_alignment.h"
#include "block_path.h"
#include "carrier_levelling.h"
#include "clarity.h"
#include "engine_constants.h"
#include "filter_bank.h"
#include "harmonic_blur.h"
#include "spread.h"

#include <array>
#include <memory>
#include <span>

namespace lumivox::engine {

// The channel vocoder: one carrier and one modulator sample in, one output sample out, over the
// bands of a layout (the classic 32 by default).
class VocoderEngine {
public:
    VocoderEngine(); // the classic layout; may throw std::bad_alloc
    // May throw std::bad_alloc. The choice says how processBlock runs (the widest unit of this
    // machine by default).
    explicit VocoderEngine(BandLayout layout, VectorChoice choice = {});
    ~VocoderEngine();
    VocoderEngine(const VocoderEngine&) = delete;
    VocoderEngine& operator=(const VocoderEngine&) = delete;

    // Replaces the bank with a freshly built one in zero state; if that runs out of memory, the
    // engine stays as it was.
    void buildFilterBank();

    void setVagueness(double v); // clamped to [0, 1]
    // The blur of the bands narrower than a voice's harmonic spacing (see harmonic_blur.h): its
    // radius in bands, clamped to [0, HarmonicBlur::maxRadius]; 0, the default, leaves them
    // unblurred. A carrier that follows the voice at another pitch needs
    // their levels blurred: a band holding one of the voice's harmonics would pass only the
    // carrier's partials near it, at the voice's own pitch.
    void setHarmonicBandBlur(int radius);
    void setClearance(double c); // clamped to [0, 1]
    void setOutputGain(double gain); // used as given
    // Clamped to [0, 1]. With a layout designed at the recording's rate it also levels the
    // carrier's bands (see carrier_levelling.h) and aligns the bands in time (see
    // band_alignment.h); the classic layout keeps its carrier and its bands as they are.
    void setClarity(double c);
    void setVectorChoice(VectorChoice choice) { vectors = choice; }

    double vagueness() const { return spread.vagueness; }
    int harmonicBandBlur() const { return harmonicBlur.radius; }
    double clearance() const { return clearanceAmount; }
    double outputGain() const { return gain; }
    double clarity() const { return clarityStage.amount(); }
    // Vagueness's weights by distance, from 0 to the farthest the layout lets it reach.
    std::span<const double> spreadWeights() const { return spread.layoutWeights(); }
    const FilterBank& bank() const { return filterBank; }
    const BandLayout& layout() const { return bandLayout; }
    // Clarity's alignment of the bands in time (active only while it is on).
    const BandAlignment& alignment() const { return bandAlignment; }
    VectorChoice vectorChoice() const { return vectors; }

    // Carrier in its integer sample units, modulator normalised to about +-1; result not clamped.
    double processSample(double carrier, double modulator);

    // processSample once per frame, for as many frames as the shortest span holds, giving the same
    // bits; the bands run side by side in vector lanes on the chosen unit.
    void processBlock(std::span<const double> carrier, std::span<const double> modulator,
        std::span<double> output);

    // processBlock in two halves, so that two threads can each run one, a block apart. firstHalf
    // leaves handOverValues values per frame at most in handOver; secondHalf takes them for the
    // same frames and gives the output (handOverValues is enough for any layout). Called in frame
    // order they give processBlock's bits, and
    // a run may go back to processBlock once both have done the same frames. They share no
    // state; the settings must not change between the two halves of a frame. Without a unit they
    // run on the chosen one; a unit this machine cannot run is taken as the portable one.
    // Makes what the halves below need (about a megabyte of work areas, which an engine that
    // only runs whole blocks never uses); call it once before any half, before the threads start.
    void prepareHalves() { blockPath->prepareHalves(); } // may throw std::bad_alloc
    static constexpr int handOverValues
        = mostBands + mostBands / 2 + static_cast<int>(ClarityStage::handOverValues);
    void firstHalf(std::span<const double> carrier, std::span<const double> modulator,
        std::span<double> handOver, VectorUnit unit);
    void secondHalf(std::span<const double> carrier, std::span<const double> modulator,
        std::span<const double> handOver, std::span<double> output, VectorUnit unit);
    void firstHalf(std::span<const double> carrier, std::span<const double> modulator,
        std::span<double> handOver)
    {
        firstHalf(carrier, modulator, handOver, vectors.unit);
    }
    void secondHalf(std::span<const double> carrier, std::span<const double> modulator,
        std::span<const double> handOver, std::span<double> output)
    {
        secondHalf(carrier, modulator, handOver, output, vectors.unit);
    }

    // Whether, with the settings as they are, a pipeline's two threads work on the same frames at
    // the same time with lowerHalf and upperHalf, which hand each other a few values a frame
    // through a BandExchange, rather than a block apart with firstHalf and secondHalf.
    bool halvesShareFrames() const;
    // processBlock in two halves that run on two threads at the same time over the same frames
    // (at most the exchange's capacity), each waiting for the other's values: the lower bands
    // (and Clarity's modulator side, in handOver), and the upper bands, which give the output
    // and the band levels. The exchange is reset before each block; abandoning it ends both
    // early, leaving the engine fit only to be dropped.
    void lowerHalf(std::span<const double> carrier, std::span<const double> modulator,
        std::span<double> handOver, BandExchange& exchange, VectorUnit unit);
    void upperHalf(std::span<const double> carrier, std::span<const double> modulator,
        std::span<const double> handOver, BandExchange& exchange, std::span<double> output,
        VectorUnit unit);

    // The levels that weighted the carrier bands (after the harmonic bands' blur, Vagueness and
    // Instrument Clearance) in the
    // last frame of the latest processSample or processBlock call, one per band of the layout;
    // zeros before the first.
    std::span<const double> bandLevels() const
    {
        return std::span<const double>(levels).first(static_cast<std::size_t>(bandCount()));
    }
    int bandCount() const { return bandLayout.bandCount(); }

private:
    friend void processBlockWith(VectorUnit, VocoderEngine&, std::span<const double>,
        std::span<const double>, std::span<double>);
    void runBlock(VectorUnit unit, std::span<const double> carrier,
        std::span<const double> modulator, std::span<double> output);
    void addClarity(VectorUnit unit, const double* carrier, const double* modulator, double* output,
        std::size_t frameCount);

    BandLayout bandLayout;
    VectorChoice vectors;
    FilterBank filterBank;
    Spread spread;
    HarmonicBlur harmonicBlur;
    double clearanceAmount = 0.0;
    double gain = 1.0;
    // Added after the bands, by the same scalar code on every path, and only above 0, so that
    // Clarity 0 leaves every output bit as it was.
    ClarityStage clarityStage;
    CarrierLevelling carrierLevelling;
    BandAlignment bandAlignment;
    // The levels of the latest frame, for bandLevels(); processSample also works in it.
    std::array<double, mostBands> levels {};
    std::unique_ptr<BlockPath> blockPath;
};

} // namespace lumivox::engine
