// The vocode pipeline on two threads must give processSample's bits, at the default settings and
// at others, on every vector unit, whatever the threads' timing; and it must stop cleanly whichever
// side ends the run. These tests also run under ThreadSanitizer (label tsan).
#include "engine/block_path.h"
#include "engine_signals.h"
#include "pipeline_test_parts.h"
#include "vocode_pipeline.h"

#include <gtest/gtest.h>
#include <new>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>

namespace lumivox::job::test {
namespace {

    using engine::VectorUnit;
    using engine::testing::Settings;
    using engine::testing::Signals;

    constexpr int blockFrames = 2048;

    struct PipelineCase {
        const char* name;
        Settings settings;
    };

    void PrintTo(const PipelineCase& pipelineCase, std::ostream* out) { *out << pipelineCase.name; }

    // The default sliders (gain 1.0) first: the path every user takes.
    const PipelineCase pipelineCases[] = {
        { "Default", { 0.0, 0.0, 1.0 } },
        { "Vagueness50Clearance30", { 0.5, 0.3, 1.0 } },
        { "Vagueness100", { 1.0, 0.0, 1.0 } },
        { "Clearance100Gain2", { 0.0, 1.0, 2.0 } },
        { "Vagueness23Clearance71Gain06", { 0.23, 0.71, 0.6 } },
        { "Clarity80", { 0.0, 0.0, 1.0, 0.8 } },
        { "Clarity60Vagueness50", { 0.5, 0.0, 1.0, 0.6 } },
    };

#if defined(__SANITIZE_THREAD__)
    std::vector<VectorUnit> unitsToCheck() { return { engine::widestVectorUnit() }; }
#else
    std::vector<VectorUnit> unitsToCheck() { return engine::vectorUnitsOfThisMachine(); }
#endif

    std::vector<double> perSample(const Signals& signals, const Settings& settings)
    {
        engine::VocoderEngine reference;
        engine::testing::apply(reference, settings);
        std::vector<double> output(signals.carrier.size());
        for (std::size_t t = 0; t < output.size(); ++t)
            output[t] = reference.processSample(signals.carrier[t], signals.modulator[t]);
        return output;
    }

    // Segments on two threads of several lengths, with single blocks and switches to one thread
    // between them.
    std::vector<Segment> mixedSegments()
    {
        return { { true, 7 }, { false, 2 }, { true, 1 }, { true, 12 }, { false, 1 }, { true, 3 } };
    }

    // What every test here needs: signals, the reference, the parts and a pipeline.
    struct Rig {
        explicit Rig(const Settings& settings, std::size_t frameCount = 3 * 44100,
            std::optional<VectorUnit> unit = std::nullopt)
            : signals(engine::testing::musicalSignals(frameCount))
            , want(perSample(signals, settings))
            , source(signals, progress, Jitter(testSeed(), 40))
            , sink(progress, Jitter(testSeed() + 1, 40))
        {
            engine::testing::apply(vocoder, settings);
            pipeline.emplace(vocoder, blockFrames, true, unit);
        }

        // The reference's first frames, as a run that stopped early leaves them.
        std::vector<double> wantFirst(std::size_t frameCount) const
        {
            return { want.begin(), want.begin() + static_cast<std::ptrdiff_t>(frameCount) };
        }

        Signals signals;
        std::vector<double> want;
        Progress progress;
        SignalSource source;
        CollectingSink sink;
        engine::VocoderEngine vocoder;
        std::optional<VocodePipeline> pipeline;
    };

    class PipelineBits : public ::testing::TestWithParam<std::tuple<PipelineCase, VectorUnit>> { };

} // namespace

TEST_P(PipelineBits, MatchProcessSampleWhateverTheTiming)
{
    const auto& [pipelineCase, unit] = GetParam();
    std::cout << "random delays from seed " << testSeed() << " (LUMIVOX_TEST_SEED repeats it)\n";
    Rig rig(pipelineCase.settings, 3 * 44100, unit);
    ScriptedPlan plan(mixedSegments());

    EXPECT_EQ(rig.pipeline->run(rig.source, rig.sink, plan), PipelineEnd::InputEnded);
    EXPECT_EQ(engine::testing::differingSamples(rig.want, rig.sink.collected), 0u);
    EXPECT_EQ(rig.sink.collected.size(), rig.want.size());
    EXPECT_GT(plan.framesOnTwo, 2 * plan.framesOnOne); // most of it went on two threads
    EXPECT_EQ(rig.source.readsAfterRingBound, 0);
    EXPECT_EQ(rig.sink.positionsOutOfStep, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryUnit, PipelineBits,
    ::testing::Combine(::testing::ValuesIn(pipelineCases), ::testing::ValuesIn(unitsToCheck())),
    [](const auto& param) {
        return std::string(std::get<0>(param.param).name) + "_"
            + engine::vectorUnitName(std::get<1>(param.param));
    });

TEST(VocodePipeline, ASinkHeldBackLetsTheReaderFillTheRingAndNoFurther)
{
    Rig rig({ 0.0, 0.0, 1.0 });
    // Held at block 5 until the reader has read the three blocks the ring holds after it.
    rig.sink.beforeTake = [&rig](int block) {
        if (block == 5)
            rig.progress.awaitUntil([&rig] { return rig.progress.blocksRead.load() == 9; });
    };
    ScriptedPlan plan({ { true, 40 } });
    EXPECT_EQ(rig.pipeline->run(rig.source, rig.sink, plan), PipelineEnd::InputEnded);
    EXPECT_EQ(rig.source.readsAfterRingBound, 0);
    EXPECT_EQ(engine::testing::differingSamples(rig.want, rig.sink.collected), 0u);
}

TEST(VocodePipeline, AReaderHeldBackLeavesTheCarrierSideWaitingOnAnEmptyRing)
{
    // Held at block 20 until every block before it has been written, and at block 30 until the
    // sink has begun block 29; with both threads on each block, one block less, as the reader
    // runs the lower half of a block after reading the next.
    for (const Settings& settings : { Settings { 0.0, 0.0, 1.0 }, Settings { 0.5, 0.3, 1.0 } }) {
        Rig rig(settings);
        const int ahead = rig.vocoder.halvesShareFrames() ? 1 : 0;
        rig.source.beforeRead = [&rig, ahead](int block) {
            if (block == 20)
                rig.progress.awaitUntil(
                    [&rig, ahead] { return rig.progress.blocksTaken.load() == 20 - ahead; });
            if (block == 30)
                rig.progress.awaitUntil(
                    [&rig, ahead] { return rig.progress.blocksEntered.load() == 30 - ahead; });
        };
        ScriptedPlan plan({ { true, 25 }, { true, 100 } });
        EXPECT_EQ(rig.pipeline->run(rig.source, rig.sink, plan), PipelineEnd::InputEnded);
        EXPECT_EQ(engine::testing::differingSamples(rig.want, rig.sink.collected), 0u);
    }
}

// How the run ends, for a stop or failure at a chosen block, while the other side is held so that
// the ring is full or empty at that moment.
struct EndingCase {
    const char* name;
    int stopBefore; // the sink stops before this block
    int refuse; // the sink's write fails on this block
    int failAt; // reading this block fails
    int throwAt; // reading this block throws std::bad_alloc
    bool ringFull; // the sink waits until the reader is three blocks ahead
    PipelineEnd end;
    int blocksTaken;
    // Vagueness and Instrument Clearance on: both threads work on each block at once, and the
    // reader gets one block ahead at most.
    bool sharingFrames = false;
};

void PrintTo(const EndingCase& endingCase, std::ostream* out) { *out << endingCase.name; }

const EndingCase endingCases[] = {
    { "StopWithTheRingFull", 10, -1, -1, -1, true, PipelineEnd::Stopped, 10 },
    { "StopWithTheRingEmpty", 10, -1, -1, -1, false, PipelineEnd::Stopped, 10 },
    { "StopBeforeTheFirstBlock", 0, -1, -1, -1, true, PipelineEnd::Stopped, 0 },
    { "WriteFailsWithTheRingFull", -1, 10, -1, -1, true, PipelineEnd::Stopped, 10 },
    { "ReadFailsWithTheRingFull", -1, -1, 12, -1, true, PipelineEnd::InputFailed, 12 },
    { "ReadFailsWithTheRingEmpty", -1, -1, 12, -1, false, PipelineEnd::InputFailed, 12 },
    { "ReadFailsFirst", -1, -1, 0, -1, false, PipelineEnd::InputFailed, 0 },
    { "StopSharingFrames", 10, -1, -1, -1, false, PipelineEnd::Stopped, 10, true },
    { "StopBeforeTheFirstBlockSharingFrames", 0, -1, -1, -1, false, PipelineEnd::Stopped, 0,
        true },
    { "WriteFailsSharingFrames", -1, 10, -1, -1, false, PipelineEnd::Stopped, 10, true },
    { "ReadFailsSharingFrames", -1, -1, 12, -1, false, PipelineEnd::InputFailed, 12, true },
    { "ReadFailsFirstSharingFrames", -1, -1, 0, -1, false, PipelineEnd::InputFailed, 0, true },
};

class PipelineEnding : public ::testing::TestWithParam<EndingCase> { };

TEST_P(PipelineEnding, EndsBothThreadsKeepingTheBlocksBefore)
{
    const EndingCase& c = GetParam();
    Rig rig(c.sharingFrames ? Settings { 0.5, 0.3, 1.0 } : Settings { 0.0, 0.0, 1.0 });
    ASSERT_EQ(rig.vocoder.halvesShareFrames(), c.sharingFrames);
    rig.sink.stopBefore = c.stopBefore;
    rig.sink.refuse = c.refuse;
    rig.source.failAt = c.failAt;
    const int heldAt = std::max({ c.stopBefore, c.refuse, c.failAt }) - 1;
    if (c.ringFull) {
        rig.sink.beforeTake = [&rig, heldAt](int block) {
            if (block == heldAt)
                rig.progress.awaitUntil([&rig, heldAt] {
                    return rig.progress.blocksRead.load() == heldAt + 4
                        || rig.progress.inputEnds.load() > 0;
                });
        };
    } else {
        // The reader runs a block's lower half after reading the next, when sharing frames.
        const int written = std::max(0, heldAt + (c.sharingFrames ? 0 : 1));
        rig.source.beforeRead = [&rig, heldAt, written](int block) {
            if (block == heldAt + 1)
                rig.progress.awaitUntil(
                    [&rig, written] { return rig.progress.blocksTaken.load() == written; });
        };
    }
    ScriptedPlan plan({ { true, 100 } });
    EXPECT_EQ(rig.pipeline->run(rig.source, rig.sink, plan), c.end);
    EXPECT_EQ(rig.progress.blocksTaken.load(), c.blocksTaken);
    EXPECT_EQ(engine::testing::differingSamples(
                  rig.wantFirst(rig.sink.collected.size()), rig.sink.collected),
        0u);
}

INSTANTIATE_TEST_SUITE_P(Endings, PipelineEnding, ::testing::ValuesIn(endingCases),
    [](const auto& param) { return std::string(param.param.name); });

// With both threads on each block, the reader fails while the other thread works on the block
// before: that block is finished first.
TEST(VocodePipeline, OutOfMemoryOnTheReadingThreadIsThrownOnTheCallingOne)
{
    for (const Settings& settings : { Settings { 0.0, 0.0, 1.0 }, Settings { 0.5, 0.3, 1.0 } }) {
        Rig rig(settings);
        rig.source.throwAt = 6;
        ScriptedPlan plan({ { true, 100 } });
        EXPECT_THROW(rig.pipeline->run(rig.source, rig.sink, plan), std::bad_alloc);
        EXPECT_EQ(rig.progress.blocksTaken.load(), 6);
        EXPECT_EQ(engine::testing::differingSamples(
                      rig.wantFirst(rig.sink.collected.size()), rig.sink.collected),
            0u);
    }
}

TEST(VocodePipeline, WithoutTheRingEverySegmentRunsOnOneThread)
{
    const Signals signals = engine::testing::musicalSignals(44100);
    Progress progress;
    SignalSource source(signals, progress, Jitter(testSeed(), 0));
    CollectingSink sink(progress, Jitter(testSeed(), 0));
    engine::VocoderEngine vocoder;
    VocodePipeline pipeline(vocoder, blockFrames, false);
    ScriptedPlan plan({ { true, 5 } });
    EXPECT_EQ(pipeline.run(source, sink, plan), PipelineEnd::InputEnded);
    EXPECT_EQ(plan.framesOnTwo, 0u);
    EXPECT_EQ(plan.framesOnOne, 44100u);
    EXPECT_EQ(pipeline.blocksOnTwoThreads(), 0u);
    EXPECT_EQ(
        engine::testing::differingSamples(perSample(signals, { 0.0, 0.0, 1.0 }), sink.collected),
        0u);
}

} // namespace lumivox::job::test
