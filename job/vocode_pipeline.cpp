#include "vocode_pipeline.h"

#include "second_core.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>

namespace lumivox::job {

namespace {

    // Blocks in flight between the threads: one being filled, one being used and one waiting
    // keep both busy; more would only take cache.
    constexpr int ringBlockCount = 3;

    std::span<const double> first(const std::vector<double>& values, int frameCount)
    {
        return { values.data(), static_cast<std::size_t>(frameCount) };
    }

    // The second thread of a segment: it reads blocks into the ring and runs the engine's first
    // half, or its lower half beside the calling thread's upper half. Destroyed, it cancels the ring (which ends the thread's waits) and joins the thread, however
    // the first thread left the segment.
    class ModulatorStage {
    public:
        ModulatorStage(engine::VocoderEngine& engine, engine::VectorUnit unit, BlockSource& source,
            BlockRing<VocodePipeline::RingBlock>& ring, int blockCount)
            : stageRing(ring)
            , thread([&engine, unit, &source, blockCount, this] {
                cores.keepOffCallersCore();
                try {
                    work(engine, unit, source, blockCount);
                } catch (...) {
                    failure = std::current_exception();
                    // The other thread may be working on the block handed over last.
                    runLowerHalf(engine, unit);
                }
                stageRing.finish();
            })
        {
        }
        ~ModulatorStage() { stop(); }
        ModulatorStage(const ModulatorStage&) = delete;
        ModulatorStage& operator=(const ModulatorStage&) = delete;

        // Ends the thread and throws again what it threw.
        void stop()
        {
            if (!thread.joinable())
                return;
            stageRing.cancel();
            for (VocodePipeline::RingBlock& block : stageRing.allBlocks())
                block.exchange->abandon();
            thread.join();
        }
        void rethrow() const
        {
            if (failure)
                std::rethrow_exception(failure);
        }

    private:
        // Reads blockCount blocks at most, hands each over and runs the engine's half of it. A
        // block both threads work on at once is handed over before its lower half runs, and the
        // next one is read and handed over before that, so that the other thread finds it
        // waiting when it is done with this one.
        void work(engine::VocoderEngine& engine, engine::VectorUnit unit, BlockSource& source,
            int blockCount)
        {
            for (int block = 0; block < blockCount; ++block) {
                VocodePipeline::RingBlock* filling = stageRing.emptyBlock();
                if (filling == nullptr)
                    break;
                filling->frameCount
                    = source.readBlock(filling->carrier, filling->modulator, filling->position);
                const bool shared = filling->frameCount > 0 && engine.halvesShareFrames();
                if (shared) {
                    // A stop that abandons the exchange after this reset has cancelled the
                    // ring first, and the block is then left alone.
                    filling->exchange->reset();
                } else if (filling->frameCount > 0) {
                    const auto frames = static_cast<std::size_t>(filling->frameCount);
                    engine.firstHalf({ filling->carrier.data(), frames },
                        { filling->modulator.data(), frames },
                        { filling->handOver.data(),
                            frames * engine::VocoderEngine::handOverValues },
                        unit);
                }
                stageRing.publish();
                runLowerHalf(engine, unit);
                if (shared)
                    together = filling;
                if (filling->frameCount <= 0)
                    break;
            }
            runLowerHalf(engine, unit);
        }

        // The lower half of the block handed over last, unless the run is stopping.
        void runLowerHalf(engine::VocoderEngine& engine, engine::VectorUnit unit)
        {
            if (together != nullptr && !stageRing.isCancelled()) {
                const auto frames = static_cast<std::size_t>(together->frameCount);
                engine.lowerHalf(first(together->carrier, together->frameCount),
                    first(together->modulator, together->frameCount),
                    { together->handOver.data(), frames * engine::VocoderEngine::handOverValues },
                    *together->exchange, unit);
            }
            together = nullptr;
        }

        CorePair cores; // made before the thread starts, on the calling thread
        std::exception_ptr failure;
        VocodePipeline::RingBlock* together = nullptr; // handed over, its lower half to run
        BlockRing<VocodePipeline::RingBlock>& stageRing;
        std::thread thread; // last: it starts once everything it uses exists
    };

} // namespace

VocodePipeline::VocodePipeline(engine::VocoderEngine& vocoder, int blockFrames,
    bool twoThreadsPossible, std::optional<engine::VectorUnit> unit)
    : engine(vocoder)
    , chosenUnit(unit)
    , carrier(static_cast<std::size_t>(blockFrames))
    , modulator(static_cast<std::size_t>(blockFrames))
    , output(static_cast<std::size_t>(blockFrames))
{
    if (!twoThreadsPossible)
        return;
    engine.prepareHalves();
    const auto frames = static_cast<std::size_t>(blockFrames);
    std::vector<RingBlock> blocks(ringBlockCount);
    for (RingBlock& block : blocks) {
        block.carrier.resize(frames);
        block.modulator.resize(frames);
        block.handOver.resize(frames * engine::VocoderEngine::handOverValues);
        block.exchange = std::make_unique<engine::BandExchange>(blockFrames);
    }
    ring = std::make_unique<BlockRing<RingBlock>>(std::move(blocks));
}

bool VocodePipeline::endsRun(int frameCount, SegmentResult& result)
{
    if (frameCount > 0)
        return false;
    result.ended = true;
    result.end = frameCount == 0 ? PipelineEnd::InputEnded : PipelineEnd::InputFailed;
    return true;
}

VocodePipeline::SegmentResult VocodePipeline::runOnOne(
    BlockSource& source, BlockSink& sink, int blockCount)
{
    SegmentResult result;
    for (int block = 0; block < blockCount; ++block) {
        if (!sink.beforeBlock()) {
            result.ended = true;
            result.end = PipelineEnd::Stopped;
            return result;
        }
        std::uint64_t position = 0;
        const int frames = source.readBlock(carrier, modulator, position);
        if (endsRun(frames, result))
            return result;
        const std::span<double> results(output.data(), static_cast<std::size_t>(frames));
        if (chosenUnit)
            engine::processBlockWith(
                *chosenUnit, engine, first(carrier, frames), first(modulator, frames), results);
        else
            engine.processBlock(first(carrier, frames), first(modulator, frames), results);
        result.frameCount += static_cast<std::uint64_t>(frames);
        if (!sink.takeBlock(first(output, frames), position)) {
            result.ended = true;
            result.end = PipelineEnd::Stopped;
            return result;
        }
    }
    return result;
}

std::optional<VocodePipeline::SegmentResult> VocodePipeline::runOnTwo(
    BlockSource& source, BlockSink& sink, int blockCount)
{
    SegmentResult result;
    ring->reset();
    std::optional<ModulatorStage> started;
    try {
        started.emplace(
            engine, chosenUnit.value_or(engine.vectorChoice().unit), source, *ring, blockCount);
    } catch (const std::system_error&) {
        return std::nullopt; // no thread to be had
    }
    ModulatorStage& stage = *started;
    for (;;) {
        if (!sink.beforeBlock()) {
            result.ended = true;
            result.end = PipelineEnd::Stopped;
            break;
        }
        RingBlock* block = ring->filledBlock();
        if (block == nullptr)
            break;
        const int frames = block->frameCount;
        if (endsRun(frames, result)) {
            ring->release();
            break;
        }
        const auto count = static_cast<std::size_t>(frames);
        const std::span<const double> handOver(
            block->handOver.data(), count * engine::VocoderEngine::handOverValues);
        const engine::VectorUnit unit = chosenUnit.value_or(engine.vectorChoice().unit);
        if (engine.halvesShareFrames())
            engine.upperHalf(first(block->carrier, frames), first(block->modulator, frames),
                handOver, *block->exchange, { output.data(), count }, unit);
        else
            engine.secondHalf(first(block->carrier, frames), first(block->modulator, frames),
                handOver, { output.data(), count }, unit);
        const std::uint64_t position = block->position;
        ring->release();
        ++twoThreadBlocks;
        result.frameCount += count;
        if (!sink.takeBlock(first(output, frames), position)) {
            result.ended = true;
            result.end = PipelineEnd::Stopped;
            break;
        }
    }
    stage.stop();
    stage.rethrow();
    return result;
}

PipelineEnd VocodePipeline::run(BlockSource& source, BlockSink& sink, SegmentPlan& plan)
{
    for (;;) {
        Segment segment = plan.next();
        segment.blockCount = std::max(segment.blockCount, 1);
        const auto begun = std::chrono::steady_clock::now();
        SegmentResult result;
        std::optional<SegmentResult> onTwo;
        if (segment.twoThreads && ring && !(onTwo = runOnTwo(source, sink, segment.blockCount)))
            plan.noSecondThread(); // nothing was read: the segment goes on one thread
        if (onTwo) {
            result = *onTwo;
        } else {
            segment.twoThreads = false;
            result = runOnOne(source, sink, segment.blockCount);
        }
        plan.record(segment, result.frameCount, std::chrono::steady_clock::now() - begun);
        if (result.ended)
            return result.end;
    }
}

} // namespace lumivox::job
