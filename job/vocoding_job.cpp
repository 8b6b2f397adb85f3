#include "vocoding_job.h"

#include "engine/vocoder_engine.h"
#include "engine_stages.h"
#include "job_messages.h"
#include "run_ending.h"
#include "run_sinks.h"
#include "run_sources.h"
#include "second_core.h"
#include "thread_choice.h"
#include "vocode_pipeline.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <sstream>
#include <utility>

namespace lumivox::job {

namespace {

    std::unique_ptr<std::uint8_t[]> takeFromFreeStore(std::size_t byteCount)
    {
        return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[byteCount]);
    }

    // Everything a run takes, declared so that destruction releases it in the order the run must:
    // the sink first, then the inputs, then the controls are handed back, the flags cleared and
    // the engine destroyed.
    struct RunHoldings {
        RunHoldings(const JobSettings& settings, JobState& state, JobEvents& events,
            const JobEnvironment& environment, RunInputs::TakeBuffer takeBuffer)
            : flags(state)
            , controls(events, settings.mode)
            , inputs(settings, environment, std::move(takeBuffer), state.stopRequested)
        {
        }

        std::unique_ptr<engine::VocoderEngine> engine;
        FlagsClearer flags;
        ControlsHandBack controls;
        RunInputs inputs;
        // The blocks in the engine's values, taken before the loop so that it allocates nothing.
        std::optional<VocodePipeline> blocks;
        RunSink sink;
    };

    // A Vocode or a Preview: the inputs (run_sources.h) through the engine, a block at a time,
    // into the output file or the preview stream (run_sinks.h). Whatever way it ends, it ends
    // through finish(), which releases the holdings in their order and tells the front end once.
    class VocodingRun final : public BlockSink {
    public:
        VocodingRun(const JobSettings& runSettings, JobState& jobState, JobEvents& frontEnd,
            const JobEnvironment& environment)
            : settings(runSettings)
            , sound(runSettings.sound)
            , state(jobState)
            , events(frontEnd)
            , takeBuffer(environment.takeBuffer ? environment.takeBuffer : takeFromFreeStore)
            , makeEngine(environment.makeEngine)
            , makeThreadPlan(environment.makeThreadPlan)
            , previewSink(environment.previewSink)
            , held(std::in_place, runSettings, jobState, frontEnd, environment, takeBuffer)
        {
        }

        JobOutcome run();
        JobOutcome recoverFromMemoryFailure();

        bool beforeBlock() override;
        bool takeBlock(std::span<const double> results, std::uint64_t framesTaken) override;

    private:
        std::optional<RunFailure> prepare();
        std::optional<RunFailure> openSink();
        void makeEngineStages();
        void applySound(const SoundSettings& wanted);
        RunEnding runLoop();
        JobOutcome finish(RunEnding ending);
        bool stopWith(RunEnding ending)
        {
            loopEnding = std::move(ending);
            return false;
        }

        bool previewing() const { return settings.mode == JobMode::Preview; }

        const JobSettings& settings;
        SoundSettings sound; // as the engine has it now
        JobState& state;
        JobEvents& events;
        RunInputs::TakeBuffer takeBuffer;
        std::function<std::unique_ptr<engine::VocoderEngine>()> makeEngine;
        std::function<std::unique_ptr<SegmentPlan>(bool)> makeThreadPlan;
        PreviewSink* previewSink = nullptr;
        std::optional<PortAudioPreview> ownPreview; // used when the environment gives no sink
        std::optional<RunHoldings> held;
        std::optional<engine::DesignedBands> bands; // designed once the output's rate is known

        wave::WaveFormat outputFormat;
        wave::OutputDepth outputDepth = wave::OutputDepth::Int16;
        int blockFrames = 2048;
        bool twoThreadsAllowed = false;
        bool loopStarted = false;
        int lastPosition = 0;
        std::optional<RunEnding> loopEnding; // set when the output side stopped the loop
        RunTally tally;
    };

    JobOutcome VocodingRun::run()
    {
        if (auto refused = prepare())
            return finish(RunEnding::failed(std::move(*refused)));
        makeEngineStages();
        state.jobBusy = true;
        applySound(sound);
        if (!held->sink.start())
            return finish(RunEnding::failed({ message::streamNotOpened, {} }));
        held->controls.take(state);
        loopStarted = true;
        return finish(runLoop());
    }

    // Opens and checks both inputs and opens the sink; a failure only when the job has failed.
    std::optional<RunFailure> VocodingRun::prepare()
    {
        RunHoldings& holdings = *held;
        if (auto refused = holdings.inputs.takeBuffers())
            return refused;
        auto outputBlock = takeBuffer(blockBufferBytes);
        if (!outputBlock)
            return RunFailure { message::outputBuffer, {} };
        holdings.sink.holdBuffer(std::move(outputBlock));
        if (auto refused = holdings.inputs.open())
            return refused;

        InputSource& carrier = holdings.inputs.carrier();
        outputDepth = carrier.depth();
        // Both inputs 8-bit: blocks of 4096 frames, as they have always been.
        blockFrames = outputDepth == wave::OutputDepth::UInt8
                && holdings.inputs.modulator().depth() == wave::OutputDepth::UInt8
            ? InputBlocks::maxFrames
            : InputBlocks::maxFrames / 2;
        outputFormat = holdings.inputs.outputFormat(outputDepth);
        tally.sampleRate = outputFormat.sampleRate;
        // The bands are designed at the rate the engine runs at, before any output is made.
        const double outputRate = static_cast<double>(outputFormat.sampleRate);
        bands = engine::designBands(settings.bands, outputRate);
        if (!bands) {
            std::ostringstream cause;
            cause << "the bands reach up to "
                  << (settings.bands.range ? settings.bands.range->highHz : 0.0) << " Hz; at "
                  << outputFormat.sampleRate << " Hz they may reach "
                  << std::lround(engine::highestBandHz(outputRate))
                  << " Hz at most (0.46 x the rate)";
            return RunFailure { message::bandsAboveRate, { {}, cause.str() } };
        }
        return openSink();
    }

    std::optional<RunFailure> VocodingRun::openSink()
    {
        RunHoldings& holdings = *held;
        if (previewing()) {
            if (previewSink == nullptr)
                previewSink = &ownPreview.emplace();
            return holdings.sink.openPreview(*previewSink, outputFormat, outputDepth, blockFrames);
        }
        OutputPlan plan;
        plan.path = settings.outputPath;
        plan.waveFormat = outputFormat;
        plan.depth = outputDepth;
        plan.sampleRate = outputFormat.sampleRate;
        plan.normalizeDecibels = settings.normalizeDecibels;
        return holdings.sink.openFile(plan,
            holdings.inputs.builtInCarrier() ? std::string() : settings.carrierPath,
            settings.modulatorPath, holdings.inputs.conversion);
    }

    // The engine's stages with the bands designed for the run, and the pipeline that runs them
    // on one thread or two.
    void VocodingRun::makeEngineStages()
    {
        RunHoldings& holdings = *held;
        holdings.engine = makeEngine ? makeEngine() : makeRunEngine(*bands);
        holdings.engine->setVectorChoice(settings.vectors);
        if (settings.carrier.kind == CarrierKind::FollowVoice)
            followTheVoice(*holdings.engine);
        const std::uint64_t frames = std::min(
            holdings.inputs.carrier().frameCount(), holdings.inputs.modulator().frameCount());
        twoThreadsAllowed = settings.vectors.blockPath
            && useSecondCore(previewing(), frames, outputFormat.sampleRate);
        holdings.blocks.emplace(*holdings.engine, blockFrames, twoThreadsAllowed);
    }

    void VocodingRun::applySound(const SoundSettings& wanted)
    {
        job::applySound(*held->engine, wanted, bands ? bands->levelGain : 1.0);
        sound = wanted;
    }

    // The stop and close requests before each block, and the live sound of a preview.
    bool VocodingRun::beforeBlock()
    {
        if (state.stopRequested)
            return stopWith(RunEnding::endedAs(JobOutcome::Stopped));
        if (state.closeRequested) {
            if (previewing() || events.askQuestion(message::abortQuestion))
                return stopWith(RunEnding::endedAs(JobOutcome::ProgramEnded));
            state.closeRequested = false;
        }
        if (previewing())
            applySound(events.liveSound(sound));
        return true;
    }

    // Each block's results shown, then written or played, and counted.
    bool VocodingRun::takeBlock(std::span<const double> results, std::uint64_t framesTaken)
    {
        RunHoldings& holdings = *held;
        const engine::VocoderEngine& engine = *holdings.engine;
        if (tally.framesTotal != 0) {
            const double fraction
                = static_cast<double>(framesTaken) / static_cast<double>(tally.framesTotal);
            // Reads may run past a data chunk's declared size; the bar stops at 100.
            const int position = std::min(static_cast<int>(fraction * 100.0), 100);
            if (position != lastPosition) {
                events.progress(position);
                lastPosition = position;
            }
        }
        if (!holdings.sink.write(results, engine.outputGain()))
            return stopWith(RunEnding::failed(RunFailure { message::outputNotWritten,
                { settings.outputPath, holdings.sink.failureCause() } }));
        tally.framesDone += results.size();
        state.bandLevels.publish(engine.bandLevels(), tally.framesDone, outputFormat.sampleRate,
            holdings.sink.latencySeconds());
        return true;
    }

    RunEnding VocodingRun::runLoop()
    {
        RunHoldings& holdings = *held;
        // Counted as read, so that the end can say which input ran out and what was left.
        CountedSource carrier(holdings.inputs.carrier());
        CountedSource modulator(holdings.inputs.modulator());
        InputBlocks inputs = holdings.inputs.blocks(carrier, modulator, blockFrames);
        tally.framesTotal = inputs.totalFrames();
        InputBlockSource input(inputs);
        const std::unique_ptr<SegmentPlan> threads = makeThreadPlan
            ? makeThreadPlan(twoThreadsAllowed)
            : std::make_unique<ThreadChoice>(twoThreadsAllowed);

        switch (holdings.blocks->run(input, *this, *threads)) {
        case PipelineEnd::InputEnded:
            break;
        case PipelineEnd::InputFailed:
            // A stop that cut a read short ends the run as a stop between blocks does.
            if (state.stopRequested)
                return RunEnding::endedAs(JobOutcome::Stopped);
            // The reading thread has ended: the failed input's cause is safe to read.
            return RunEnding::failed(holdings.inputs.readFailure(input.failed));
        case PipelineEnd::Stopped:
            return std::move(*loopEnding);
        }
        holdings.inputs.countLengths(carrier, modulator, blockFrames);
        return RunEnding::endedAs(JobOutcome::Finished);
    }

    // The one way out of a run.
    JobOutcome VocodingRun::finish(RunEnding ending)
    {
        if (!held) {
            // Memory ran out after everything was handed back: only the telling is left.
            events.showFailure(ending.message, ending.detail);
            events.ended(tally.report(settings.mode, ending));
            return ending.outcome;
        }
        RunHoldings& holdings = *held;
        const bool programEnds = ending.outcome == JobOutcome::ProgramEnded;
        if (loopStarted
            && (ending.outcome == JobOutcome::Finished || ending.outcome == JobOutcome::Stopped))
            events.progress(100);
        tally.noteInputs(holdings.inputs, loopStarted);

        if (programEnds && previewing()) {
            holdings.sink.abortAndClose();
        } else if (!holdings.sink.finish(
                       state.stopRequested || ending.outcome == JobOutcome::Failed)
            && ending.message.empty()) {
            // The file holds what could be written; the user must know it is not all.
            ending.message = message::outputNotWritten;
            ending.detail = { settings.outputPath, holdings.sink.failureCause() };
            if (!programEnds)
                ending.outcome = JobOutcome::Failed;
        }
        tally.noteOutput(holdings.sink);
        if (!ending.message.empty() && !ending.messageAfterRelease)
            events.showFailure(ending.message, ending.detail);

        if (programEnds)
            holdings.controls.keep();
        held.reset();

        if (!ending.message.empty() && ending.messageAfterRelease)
            events.showFailure(ending.message, ending.detail);
        if (programEnds) {
            // The front end ends the program once the job has returned.
            events.endProgram();
            return JobOutcome::ProgramEnded;
        }
        // Told once the controls are back in their places.
        events.ended(tally.report(settings.mode, ending));
        return ending.outcome;
    }

    // Hands back everything the run had taken, finishing the output as far as it went.
    JobOutcome VocodingRun::recoverFromMemoryFailure()
    {
        RunEnding ending = RunEnding::failed({ message::outOfMemory, {} });
        ending.messageAfterRelease = true;
        loopStarted = false; // a run that failed does not show 100
        return finish(std::move(ending));
    }

} // namespace

JobOutcome runVocodingJob(const JobSettings& settings, JobState& state, JobEvents& events,
    const JobEnvironment& environment)
{
    VocodingRun run(settings, state, events, environment);
    try {
        return run.run();
    } catch (const std::bad_alloc&) {
        // Handled below, outside the handler, so that recovering cannot throw from inside it.
    }
    return run.recoverFromMemoryFailure();
}

} // namespace lumivox::job
