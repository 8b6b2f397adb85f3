#pragma once

#include "band_lanes.h"
#include "band_layout.h"
#include "engine_constants.h"

#include <array>
#include <memory>
#include <span>
#include <vector>

namespace lumivox::engine {

class VocoderEngine;
class BandExchange;
struct BlockBody;
namespace kernel {
    struct BlockSettings;
}
struct FilterBank;
struct HarmonicBlur;
struct Spread;
struct CarrierLevelling;
class BandAlignment;

// The instruction sets the block path has a body for. Every one gives the same bits.
enum class VectorUnit { Portable, Sse2, Avx2, Avx512 };

const char* vectorUnitName(VectorUnit unit);

// The units this machine can run, the portable one first and the widest last.
std::vector<VectorUnit> vectorUnitsOfThisMachine();

// Whether this machine runs the unit; asks without allocating.
bool runsOnThisMachine(VectorUnit unit);

// The widest unit this machine runs.
VectorUnit widestVectorUnit();

// How an engine runs its blocks: the bands side by side on a vector unit, or (blockPath false)
// frame by frame through processSample, so that the same job can be timed on both paths. A
// program chooses once, at its start, and hands the choice down as a value.
struct VectorChoice {
    VectorUnit unit = widestVectorUnit();
    bool blockPath = true;
};

// The choice that a program's settings name: unitSetting as chooseVectorUnit reads it (null: the
// widest), and blockPathSetting "off" for frame by frame (null or anything else: blocks). The
// programs pass the environment variables LUMIVOX_VECTOR_UNIT and LUMIVOX_BLOCK_PATH.
VectorChoice vectorChoiceFrom(const char* unitSetting, const char* blockPathSetting);

// The unit a LUMIVOX_VECTOR_UNIT value asks for among the given units (portable first, widest
// last); an empty or unknown value gives the widest.
VectorUnit chooseVectorUnit(const char* requested, std::span<const VectorUnit> available);

// processBlock on a chosen unit, for tests and benchmarks. A unit this machine cannot run is taken
// as the portable one.
void processBlockWith(VectorUnit unit, VocoderEngine& engine, std::span<const double> carrier,
    std::span<const double> modulator, std::span<double> output);

// The block path's own state: the bank in lanes and the work area of a run of frames, one of each
// for the whole path on one thread, for the first half and for the second, for one layout's bands.
class BlockPath {
public:
    explicit BlockPath(const BandLayout& layout); // may throw std::bad_alloc
    ~BlockPath();
    BlockPath(const BlockPath&) = delete;
    BlockPath& operator=(const BlockPath&) = delete;

    // Runs the frames through the bank and leaves in lastLevels the levels of the last frame.
    void run(VectorUnit unit, FilterBank& bank, const Spread& spread, const HarmonicBlur& blur,
        double clearance, double outputGain, const double* carrier, const double* modulator,
        double* output, int frameCount, std::span<double> lastLevels);

    // The two halves of run(), for two threads that each run one, a block apart: the first leaves
    // values in handOver (the padded bank's bands and half as many again per frame at most) for
    // the second half of the same frames, which
    // gives the output and leaves the last frame's levels in lastLevels. Without the harmonic
    // bands' blur, Vagueness and Instrument Clearance they split the bands, otherwise the
    // modulator's filters from the carrier's. Each loads and stores only its own part of the bank
    // and of this path. The settings must be the same for both halves of a frame.
    void firstHalf(VectorUnit unit, FilterBank& bank, const Spread& spread,
        const HarmonicBlur& blur, double clearance, const double* carrier, const double* modulator,
        double* handOver, int frameCount);
    void secondHalf(VectorUnit unit, FilterBank& bank, const Spread& spread,
        const HarmonicBlur& blur, double clearance, double outputGain, const double* carrier,
        const double* modulator, const double* handOver, double* output, int frameCount,
        std::span<double> lastLevels);

    // Makes the halves' own parts of the bank and work areas (about a megabyte), which most
    // engines never need; every half below needs them made first, before the threads start.
    void prepareHalves(); // may throw std::bad_alloc

    // Whether the halves of a run with these settings split the bands and work on the same frames
    // at the same time, handing each other only what joins the bands (a few values a frame)
    // through a BandExchange: with Vagueness or Instrument Clearance on, without the harmonic
    // bands' blur and Clarity's levelling.
    bool sharesFrames(const Spread& spread, const HarmonicBlur& blur, double clearance) const;
    // The two sides of such a run over the same frames, at most the exchange's capacity, each on
    // its own thread at the same time: the lower bands, and the upper bands, which give the output
    // and the last frame's levels. Each returns early when the exchange is abandoned. The lower
    // side leaves its last frame's levels in the exchange; the upper side takes them once the
    // exchange says the lower side is done (see lastLevelsOfBoth).
    void lowerSide(VectorUnit unit, FilterBank& bank, const Spread& spread, double clearance,
        const double* carrier, const double* modulator, BandExchange& exchange, int frameCount);
    void upperSide(VectorUnit unit, FilterBank& bank, const Spread& spread, double clearance,
        double outputGain, const double* carrier, const double* modulator,
        BandExchange& exchange, double* output, int frameCount);
    // After both sides of the same frames: the last frame's levels of both into lastLevels.
    void lastLevelsOfBoth(BandExchange& exchange, int frameCount, std::span<double> lastLevels);

    // The levelling of the carrier bands that every run applies while it is active (the engine
    // owns it; null for none). Both halves of a frame see the same one.
    void setLevelling(CarrierLevelling* carrierLevelling) { levelling = carrierLevelling; }
    // The same for Clarity's alignment of the bands in time, which feeds the analysis the
    // modulator with its past; makes the room for that past. May throw std::bad_alloc.
    void setAlignment(BandAlignment* bandAlignment);

private:
    const double* runAlone(const BlockBody& body, const kernel::BlockSettings& settings,
        const double* carrier, const double* modulator, double* output, int frameCount);
    bool aligning() const;

    struct Halves;
    Halves& preparedHalves(); // throws std::logic_error when not prepared

    BandLanes lanes;
    FrameRows rows;
    int spreadReach;
    std::unique_ptr<Halves> halves; // made by prepareHalves
    CarrierLevelling* levelling = nullptr;
    BandAlignment* alignment = nullptr;
    std::vector<double> alignedInput; // the modulator with its past, for run()
};

} // namespace lumivox::engine
