#pragma once

#include "block_ring.h"
#include "engine/band_exchange.h"
#include "engine/vocoder_engine.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace lumivox::job {

// The input side of a run: blocks of carrier values (in sample units) and modulator values
// (normalised), read and converted. On two threads it is called from the second thread, one block
// after another, and never at the same time as on the first.
class BlockSource {
public:
    virtual ~BlockSource() = default;
    // Fills at most the spans' size; returns the frame count, 0 at the end of the input, or -1
    // when reading failed (the source keeps why). position: how far the input has been read with
    // this block, in the source's own units; the sink gets it with the block.
    virtual int readBlock(
        std::span<double> carrier, std::span<double> modulator, std::uint64_t& position)
        = 0;
};

// The output side of a run, always called on the thread that runs the pipeline.
class BlockSink {
public:
    virtual ~BlockSink() = default;
    // Before each block is vocoded; false stops the run. While a segment runs on two threads the
    // engine's settings must not change.
    virtual bool beforeBlock() = 0;
    // The block's output values (the engine's bandLevels() are the block's last); false stops the
    // run.
    virtual bool takeBlock(std::span<const double> output, std::uint64_t position) = 0;
};

// A stretch of blocks on one thread or on two.
struct Segment {
    bool twoThreads = false;
    int blockCount = 1;
};

// Decides how a run goes on, segment by segment.
class SegmentPlan {
public:
    virtual ~SegmentPlan() = default;
    virtual Segment next() = 0;
    // What the segment just run did: how many frames, in how long.
    virtual void record(const Segment& segment, std::uint64_t frameCount,
        std::chrono::steady_clock::duration elapsed)
        = 0;
    // No second thread could be started: everything goes on one from now on.
    virtual void noSecondThread() = 0;
};

enum class PipelineEnd { InputEnded, InputFailed, Stopped };

// Runs a job's blocks through the engine, segment by segment on one thread (processBlock) or on
// two: the second thread reads and converts each block and runs the engine's first half, and the
// calling thread runs its second half and hands the block to the sink. Where the engine's halves
// share their frames (Vagueness or Instrument Clearance on), the second thread hands each block
// over as soon as it is read, reads the next, then runs the block's lower half while the calling
// thread runs its upper half. The threads pass whole blocks through a short ring and are held on
// two cores while the segment lasts; a segment on two threads ends with every block it read vocoded, so
// the output is the same bits whichever way each segment goes. An exception on the second thread
// (std::bad_alloc from the source) stops both and is thrown again on the calling thread.
class VocodePipeline {
public:
    // blockFrames: the most frames a block holds. Two threads need the ring's blocks, taken here
    // when asked for. A vector unit given (for tests and benchmarks) is used on both paths in
    // place of processBlock's own choice. May throw std::bad_alloc.
    VocodePipeline(engine::VocoderEngine& engine, int blockFrames, bool twoThreadsPossible,
        std::optional<engine::VectorUnit> unit = std::nullopt);
    VocodePipeline(const VocodePipeline&) = delete;
    VocodePipeline& operator=(const VocodePipeline&) = delete;

    PipelineEnd run(BlockSource& source, BlockSink& sink, SegmentPlan& plan);

    std::uint64_t blocksOnTwoThreads() const { return twoThreadBlocks; }

    struct RingBlock {
        std::vector<double> carrier;
        std::vector<double> modulator;
        std::vector<double> handOver; // from the engine's first half to its second
        // Between the engine's lower and upper halves while both work on this block.
        std::unique_ptr<engine::BandExchange> exchange;
        int frameCount = 0; // 0 at the end of the input, -1 when reading failed
        std::uint64_t position = 0;
    };

private:
    struct SegmentResult {
        std::uint64_t frameCount = 0;
        bool ended = false;
        PipelineEnd end = PipelineEnd::InputEnded;
    };

    SegmentResult runOnOne(BlockSource& source, BlockSink& sink, int blockCount);
    // Nothing when no second thread could be started.
    std::optional<SegmentResult> runOnTwo(BlockSource& source, BlockSink& sink, int blockCount);
    // Frames of output from a block's frame count, or the run's end.
    static bool endsRun(int frameCount, SegmentResult& result);

    engine::VocoderEngine& engine;
    std::optional<engine::VectorUnit> chosenUnit;
    std::vector<double> carrier;
    std::vector<double> modulator;
    std::vector<double> output;
    std::vector<RingBlock> unusedBlocks;
    std::unique_ptr<BlockRing<RingBlock>> ring;
    std::uint64_t twoThreadBlocks = 0;
};

} // namespace lumivox::job
