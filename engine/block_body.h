#pragma once

// The work of the block path, compiled once per instruction set (block_body_*.cpp). The arithmetic
// of every entry is the same element by element, with no contraction anywhere.

#include "band_lanes.h"
#include "block_path.h"
#include "carrier_levelling.h"

namespace lumivox::engine {

namespace kernel {
    struct BlockSettings;
}

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
    // The steps of the two sides of a run split by bands with Vagueness or Instrument Clearance
    // on, at most a chunk of frames each (see kernel_band_split.h).
    void (*lowerLevels)(BandLanes&, FrameRows&, const kernel::BlockSettings&,
        const double* carrier, const double* modulator, int frameCount, double* share,
        double* edge);
    void (*lowerOutput)(FrameRows&, const kernel::BlockSettings&, int frameCount,
        const double* sums, const double* upperEdge, double* lowerOutput);
    void (*upperLevels)(BandLanes&, FrameRows&, const kernel::BlockSettings&,
        const double* carrier, const double* modulator, int frameCount, double* edge);
    void (*upperShare)(FrameRows&, const kernel::BlockSettings&, int frameCount,
        const double* lowerShare, double* sums, double* edge);
    void (*upperProducts)(FrameRows&, const kernel::BlockSettings&, int frameCount,
        const double* sums, const double* lowerEdge);
    void (*upperOutput)(FrameRows&, const kernel::BlockSettings&, int frameCount,
        const double* lowerOutput, double* output);
};

// The body for a unit; the portable one for a unit not compiled here.
BlockBody bodyFor(VectorUnit unit);

// Each unit's body, compiled in a file of its own (block_body_*.cpp); the x86 ones only there.
BlockBody blockBodyPortable();
BlockBody blockBodySse2();
BlockBody blockBodyAvx2();
BlockBody blockBodyAvx512();

} // namespace lumivox::engine
