#include "vocoding_job.h"

#include "carrier_supply.h"
#include "engine/vocoder_engine.h"
#include "input_blocks.h"
#include "input_checks.h"
#include "job_messages.h"
#include "mono_input.h"
#include "output_encoder.h"
#include "preview_stream.h"
#include "same_file.h"
#include "sample_formats.h"
#include "second_core.h"
#include "wave/wave_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace lumivox::job {

namespace {

    using Buffer = std::unique_ptr<std::uint8_t[]>;

    Buffer takeFromFreeStore(std::size_t byteCount)
    {
        return Buffer(new (std::nothrow) std::uint8_t[byteCount]);
    }

    bool hasOneOrTwoChannels(const wave::WaveFormat& format)
    {
        return format.channels == 1 || format.channels == 2;
    }

    wave::WaveFormat monoOutputFormat(const wave::WaveFormat& carrier)
    {
        wave::WaveFormat format;
        format.formatTag = wave::pcmFormatTag;
        format.channels = 1;
        format.sampleRate = carrier.sampleRate;
        format.bitsPerSample = carrier.bitsPerSample;
        format.blockAlign = static_cast<std::uint16_t>(carrier.bitsPerSample / 8);
        format.avgBytesPerSec = carrier.sampleRate * (carrier.bitsPerSample / 8u);
        format.extraSize = 0;
        return format;
    }

    // The controls a run has taken over, handed back when it is destroyed; a run that ends the
    // program leaves them as they are.
    class ControlsHandBack {
    public:
        ControlsHandBack(JobEvents& frontEnd, JobMode runMode)
            : events(frontEnd)
            , mode(runMode)
        {
        }
        ~ControlsHandBack()
        {
            if (taken)
                events.released(mode);
        }
        ControlsHandBack(const ControlsHandBack&) = delete;
        ControlsHandBack& operator=(const ControlsHandBack&) = delete;

        void take(JobState& state)
        {
            events.started(mode);
            if (mode == JobMode::Preview)
                state.previewRunning = true;
            taken = true;
        }
        void keep() { taken = false; }

    private:
        JobEvents& events;
        JobMode mode;
        bool taken = false;
    };

    // Clears the job's flags when destroyed, whatever way the run went.
    class FlagsClearer {
    public:
        explicit FlagsClearer(JobState& jobState)
            : state(jobState)
        {
        }
        ~FlagsClearer()
        {
            state.jobBusy = false;
            state.previewRunning = false;
            state.stopRequested = false;
        }
        FlagsClearer(const FlagsClearer&) = delete;
        FlagsClearer& operator=(const FlagsClearer&) = delete;

    private:
        JobState& state;
    };

    // Where a run's blocks go: the output file or the preview stream. Destroyed while still open
    // (only when finishing itself failed), it closes the file or aborts the stream.
    class RunSink {
    public:
        RunSink() = default;
        ~RunSink() { static_cast<void>(finish(true)); }
        RunSink(const RunSink&) = delete;
        RunSink& operator=(const RunSink&) = delete;

        void attach(std::unique_ptr<wave::WaveWriter> fileWriter)
        {
            writer = std::move(fileWriter);
        }
        void attach(PreviewSink& stream) { preview = &stream; }

        // Closes the file (patching its sizes), or ends the stream: played out, or at once when
        // aborting. False when the file could not be finished completely.
        [[nodiscard]] bool finish(bool abort)
        {
            if (preview != nullptr) {
                std::exchange(preview, nullptr)->finish(abort);
                return true;
            }
            if (writer)
                return wave::closeWave(std::move(writer));
            return true;
        }
        // The program is ending: the stream falls silent at once, then closes.
        void abortAndClose()
        {
            if (PreviewSink* stream = std::exchange(preview, nullptr)) {
                stream->abort();
                stream->close();
            }
        }
        // The stream has closed itself (it would not start).
        void forgetStream() { preview = nullptr; }

        wave::WaveWriter* file() const { return writer.get(); }
        PreviewSink* stream() const { return preview; }

    private:
        std::unique_ptr<wave::WaveWriter> writer;
        PreviewSink* preview = nullptr;
    };

    // Everything a run takes, declared so that destruction releases it in the order the run must:
    // the sink first, then the buffers, the carrier and the modulator, then the controls are
    // handed back, the flags cleared and the engine destroyed.
    struct RunHoldings {
        RunHoldings(JobState& state, JobEvents& events, JobMode mode)
            : flags(state)
            , controls(events, mode)
        {
        }

        std::unique_ptr<engine::VocoderEngine> engine;
        FlagsClearer flags;
        ControlsHandBack controls;
        MonoInput modulator;
        MonoInput carrier;
        Buffer outputBlock;
        Buffer modulatorBlock;
        Buffer carrierBlock;
        // The blocks in the engine's values, taken before the loop so that it allocates nothing.
        std::vector<double> carrierValues;
        std::vector<double> modulatorValues;
        std::vector<double> results;
        // A built-in sound, or the carrier file repeated; null for the carrier file read once.
        std::unique_ptr<CarrierSupply> carrierSupply;
        RunSink sink;
    };

    // How a run ends: its outcome and, for a failure, the message and its second line. An
    // out-of-memory failure is told after everything is handed back, when it can be.
    struct RunEnding {
        JobOutcome outcome = JobOutcome::Finished;
        std::string_view message;
        FailureDetail detail;
        bool messageAfterRelease = false;
    };

    // One run of the job. Whatever way it ends, it ends through finish(), which releases the
    // holdings in their order and tells the front end once.
    class VocodingRun {
    public:
        VocodingRun(const JobSettings& runSettings, JobState& jobState, JobEvents& frontEnd,
            const JobEnvironment& environment)
            : settings(runSettings)
            , mode(runSettings.mode)
            , sound(runSettings.sound)
            , state(jobState)
            , events(frontEnd)
            , takeBuffer(environment.takeBuffer ? environment.takeBuffer : takeFromFreeStore)
            , makeEngine(environment.makeEngine)
            , readInput(environment.readInput)
            , previewSink(environment.previewSink)
            , held(std::in_place, jobState, frontEnd, runSettings.mode)
        {
        }

        JobOutcome run();
        JobOutcome recoverFromMemoryFailure();

    private:
        std::optional<RunEnding> prepare();
        std::optional<RunEnding> openCarrier();
        void makeBuiltInCarrier();
        bool reopenCarrier(MonoInput& carrier);
        std::uint64_t runByteCount() const;
        std::optional<RunEnding> openSink();
        void applySound(const SoundSettings& wanted);
        RunEnding runLoop();
        JobOutcome finish(RunEnding ending);
        JobOutcome report(const RunEnding& ending);
        double seconds(std::uint64_t frameCount) const;

        static RunEnding endedAs(JobOutcome outcome)
        {
            RunEnding ending;
            ending.outcome = outcome;
            return ending;
        }
        static RunEnding failure(
            std::string_view message, std::string file = {}, std::string cause = {})
        {
            RunEnding ending = endedAs(JobOutcome::Failed);
            ending.message = message;
            ending.detail = { std::move(file), std::move(cause) };
            return ending;
        }
        // For a failed system call: the cause is the system's own words for errno.
        static RunEnding systemFailure(std::string_view message, const std::string& file)
        {
            const int code = errno;
            return failure(message, file, code != 0 ? std::strerror(code) : "");
        }

        bool previewing() const { return mode == JobMode::Preview; }
        bool builtInCarrier() const { return settings.carrier.kind != CarrierKind::File; }

        const JobSettings& settings;
        JobMode mode;
        SoundSettings sound; // as the engine has it now
        JobState& state;
        JobEvents& events;
        std::function<Buffer(std::size_t)> takeBuffer;
        std::function<std::unique_ptr<engine::VocoderEngine>()> makeEngine;
        InputReader readInput;
        PreviewSink* previewSink = nullptr;
        std::optional<PortAudioPreview> ownPreview; // used when the environment gives no sink
        std::optional<RunHoldings> held;

        wave::WaveFormat outputFormat;
        bool loopStarted = false;
        std::uint64_t framesDone = 0;
        std::uint64_t framesTotal = 0;
        std::uint64_t clippedSamples = 0;
        std::string reopenCause; // why the repeated carrier could not be opened again
        double peak = 0.0;
        double clipFreeGain = std::numeric_limits<double>::infinity();
        double carrierSeconds = 0.0;
        double modulatorSeconds = 0.0;
    };

    double VocodingRun::seconds(std::uint64_t frameCount) const
    {
        if (outputFormat.sampleRate == 0)
            return 0.0;
        return static_cast<double>(frameCount) / static_cast<double>(outputFormat.sampleRate);
    }

    // Tells the front end how the run ended; the controls are already back in their places.
    JobOutcome VocodingRun::report(const RunEnding& ending)
    {
        RunReport summary;
        summary.mode = mode;
        summary.outcome = ending.outcome;
        summary.secondsDone = seconds(framesDone);
        summary.secondsTotal = seconds(framesTotal);
        summary.clippedSamples = clippedSamples;
        summary.peak = peak;
        summary.clipFreeGain = clipFreeGain;
        summary.carrierSeconds = carrierSeconds;
        summary.modulatorSeconds = modulatorSeconds;
        summary.failure = std::string(ending.message);
        summary.failureDetail = ending.detail.line();
        events.ended(summary);
        return ending.outcome;
    }

    // The one way out of a run.
    JobOutcome VocodingRun::finish(RunEnding ending)
    {
        if (!held) {
            // Memory ran out after everything was handed back: only the telling is left.
            events.showFailure(ending.message, ending.detail);
            return report(ending);
        }
        RunHoldings& holdings = *held;
        const bool programEnds = ending.outcome == JobOutcome::ProgramEnded;
        if (loopStarted
            && (ending.outcome == JobOutcome::Finished || ending.outcome == JobOutcome::Stopped))
            events.progress(100);

        if (programEnds && previewing()) {
            holdings.sink.abortAndClose();
        } else if (!holdings.sink.finish(
                       state.stopRequested || ending.outcome == JobOutcome::Failed)
            && ending.message.empty()) {
            // The file holds what could be written; the user must know it is not all.
            ending.message = message::outputNotWritten;
            ending.detail = systemFailure(message::outputNotWritten, settings.outputPath).detail;
            if (!programEnds)
                ending.outcome = JobOutcome::Failed;
        }
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
        return report(ending);
    }

    JobOutcome VocodingRun::run()
    {
        if (auto refused = prepare())
            return finish(std::move(*refused));

        for (std::vector<double>* values :
            { &held->carrierValues, &held->modulatorValues, &held->results })
            values->resize(InputBlocks::maxFrames);
        held->engine = makeEngine ? makeEngine() : std::make_unique<engine::VocoderEngine>();
        held->engine->setTwoThreads(useSecondCore(previewing(), runByteCount()));
        state.jobBusy = true;
        applySound(sound);

        if (previewing() && !previewSink->start()) {
            held->sink.forgetStream(); // the sink has closed the stream that would not start
            return finish(failure(message::streamNotOpened));
        }

        held->controls.take(state);
        loopStarted = true;
        return finish(runLoop());
    }

    // Opens and checks both inputs and opens the sink; an ending only when the job has failed.
    std::optional<RunEnding> VocodingRun::prepare()
    {
        RunHoldings& holdings = *held;
        MonoInput& carrier = holdings.carrier;
        MonoInput& modulator = holdings.modulator;
        if (!(holdings.carrierBlock = takeBuffer(blockBufferBytes)))
            return failure(message::carrierBuffer);
        if (!(holdings.modulatorBlock = takeBuffer(blockBufferBytes)))
            return failure(message::modulatorBuffer);
        if (!(holdings.outputBlock = takeBuffer(blockBufferBytes)))
            return failure(message::outputBuffer);

        if (!builtInCarrier()) {
            if (auto refused = openCarrier())
                return refused;
        }
        wave::WaveFileError why;
        modulator.reader = wave::openWaveReader(
            settings.modulatorPath, &modulator.format, &modulator.dataLength, &why);
        if (!modulator.reader)
            return failure(
                message::modulatorNotOpened, settings.modulatorPath, wave::describe(why));
        if (readInput) {
            modulator.readBytes
                = [this](wave::WaveReader& reader, void* buffer, std::size_t count) {
                      return readInput(InputRole::Modulator, reader, buffer, count);
                  };
        }

        if (builtInCarrier()) {
            if (!isVocodablePcm(modulator))
                return failure(
                    message::modulatorNotPcm, settings.modulatorPath, whyNotVocodable(modulator));
            if (!hasOneOrTwoChannels(modulator.format))
                return failure(message::modulatorChannels, settings.modulatorPath,
                    std::to_string(modulator.format.channels) + " channels");
            if (!modulator.isMono()
                && !(modulator.interleaved = takeBuffer(interleavedBufferBytes)))
                return failure(message::modulatorBuffer);
            makeBuiltInCarrier();
            outputFormat = monoOutputFormat(carrier.format);
            // The sound is made for exactly the modulator's length.
            const double voiceBytesPerSecond = static_cast<double>(modulator.format.sampleRate)
                * (modulator.format.bitsPerSample / 8);
            if (voiceBytesPerSecond > 0.0)
                modulatorSeconds = modulator.monoByteCount() / voiceBytesPerSecond;
            carrierSeconds = modulatorSeconds;
            return openSink();
        }

        if (!isVocodablePcm(carrier))
            return failure(message::carrierNotPcm, settings.carrierPath, whyNotVocodable(carrier));
        if (!isVocodablePcm(modulator))
            return failure(
                message::modulatorNotPcm, settings.modulatorPath, whyNotVocodable(modulator));

        if (!hasOneOrTwoChannels(carrier.format))
            return failure(message::carrierChannels, settings.carrierPath,
                std::to_string(carrier.format.channels) + " channels");
        if (!carrier.isMono() && !(carrier.interleaved = takeBuffer(interleavedBufferBytes)))
            return failure(message::carrierBuffer);
        if (!hasOneOrTwoChannels(modulator.format))
            return failure(message::modulatorChannels, settings.modulatorPath,
                std::to_string(modulator.format.channels) + " channels");
        if (!modulator.isMono() && !(modulator.interleaved = takeBuffer(interleavedBufferBytes)))
            return failure(message::modulatorBuffer);

        if (carrier.format.bitsPerSample != modulator.format.bitsPerSample)
            return failure(message::bitDepthsDiffer, {},
                bitDepthMismatch(carrier.format.bitsPerSample, modulator.format.bitsPerSample));
        if (carrier.format.sampleRate != modulator.format.sampleRate)
            return failure(message::sampleRatesDiffer, {},
                sampleRateMismatch(carrier.format.sampleRate, modulator.format.sampleRate));

        if (settings.repeatCarrier)
            holdings.carrierSupply = CarrierSupply::repeated(
                carrier, holdings.carrierBlock.get(),
                [this](MonoInput& input) { return reopenCarrier(input); },
                seamFadeFrames(carrier.format.sampleRate));
        outputFormat = monoOutputFormat(carrier.format);
        const double bytesPerSecond
            = static_cast<double>(outputFormat.sampleRate) * outputFormat.blockAlign;
        if (bytesPerSecond > 0.0) {
            carrierSeconds = carrier.monoByteCount() / bytesPerSecond;
            modulatorSeconds = modulator.monoByteCount() / bytesPerSecond;
        }
        // A repeated carrier lasts as long as the modulator: nothing of the modulator is left out.
        if (settings.repeatCarrier && carrier.monoByteCount() > 0)
            carrierSeconds = std::max(carrierSeconds, modulatorSeconds);
        return openSink();
    }

    std::optional<RunEnding> VocodingRun::openCarrier()
    {
        MonoInput& carrier = held->carrier;
        wave::WaveFileError why;
        carrier.reader = wave::openWaveReader(
            settings.carrierPath, &carrier.format, &carrier.dataLength, &why);
        if (!carrier.reader)
            return failure(message::carrierNotOpened, settings.carrierPath, wave::describe(why));
        if (readInput) {
            carrier.readBytes = [this](wave::WaveReader& reader, void* buffer, std::size_t count) {
                return readInput(InputRole::Carrier, reader, buffer, count);
            };
        }
        return std::nullopt;
    }

    // The built-in sound stands in for the carrier file: mono, at the modulator's rate, 16-bit
    // unless the modulator is wider.
    void VocodingRun::makeBuiltInCarrier()
    {
        const wave::WaveFormat& voice = held->modulator.format;
        wave::WaveFormat& format = held->carrier.format;
        format.formatTag = wave::pcmFormatTag;
        format.channels = 1;
        format.sampleRate = voice.sampleRate;
        format.bitsPerSample
            = static_cast<std::uint16_t>(builtInBitsPerSample(voice.bitsPerSample));
        held->carrierSupply = CarrierSupply::builtIn(settings.carrier,
            static_cast<double>(voice.sampleRate), format.bitsPerSample, !previewing());
    }

    // Opens the carrier again to repeat it; it must still have the format the run started with.
    bool VocodingRun::reopenCarrier(MonoInput& carrier)
    {
        wave::WaveFormat format;
        std::uint32_t dataLength = 0;
        wave::WaveFileError why;
        auto reader = wave::openWaveReader(settings.carrierPath, &format, &dataLength, &why);
        if (!reader) {
            reopenCause = wave::describe(why);
            return false;
        }
        if (format.channels != carrier.format.channels
            || format.bitsPerSample != carrier.format.bitsPerSample
            || format.sampleRate != carrier.format.sampleRate
            || format.formatTag != carrier.format.formatTag) {
            reopenCause = "it changed while it was being repeated";
            return false;
        }
        carrier.reader = std::move(reader);
        carrier.dataLength = dataLength;
        return true;
    }

    // The length of the run as the inputs declare it, in mono bytes of the input that sets it.
    std::uint64_t VocodingRun::runByteCount() const
    {
        if (held->carrierSupply)
            return held->modulator.monoByteCount();
        return std::min(held->carrier.monoByteCount(), held->modulator.monoByteCount());
    }

    std::optional<RunEnding> VocodingRun::openSink()
    {
        if (!previewing()) {
            // Creating the writer empties the file: it must not be one of the inputs.
            if (!builtInCarrier() && namesSameFile(settings.outputPath, settings.carrierPath))
                return failure(message::outputNotOpened, settings.outputPath, "it is the carrier");
            if (namesSameFile(settings.outputPath, settings.modulatorPath))
                return failure(
                    message::outputNotOpened, settings.outputPath, "it is the modulator");
            wave::WaveFileError why;
            auto writer = wave::createWaveWriter(settings.outputPath, outputFormat, {}, &why);
            if (!writer)
                return failure(message::outputNotOpened, settings.outputPath, wave::describe(why));
            held->sink.attach(std::move(writer));
            return std::nullopt;
        }

        if (previewSink == nullptr)
            previewSink = &ownPreview.emplace();
        PreviewFormat format;
        format.sampleRate = static_cast<double>(outputFormat.sampleRate);
        format.bitsPerSample = outputFormat.bitsPerSample;
        // One full mono block, which the modulator's depth sets.
        format.framesPerBuffer = held->modulator.format.bitsPerSample == 8 ? 4096 : 2048;
        switch (previewSink->open(format)) {
        case PreviewOpenResult::Opened:
            held->sink.attach(*previewSink);
            return std::nullopt;
        case PreviewOpenResult::NoDevice:
            return failure(message::noOutputDevice);
        case PreviewOpenResult::NoDeviceInfo:
            return failure(message::noDeviceInfo);
        case PreviewOpenResult::StreamNotOpened:
            break;
        }
        return failure(message::streamNotOpened);
    }

    void VocodingRun::applySound(const SoundSettings& wanted)
    {
        const auto position
            = [](int value) { return static_cast<double>(std::clamp(value, 0, 100)); };
        engine::VocoderEngine& engine = *held->engine;
        engine.setClearance(position(wanted.clearance) / 100.0);
        engine.setVagueness(position(wanted.vagueness) / 100.0);
        engine.setOutputGain(position(wanted.gain) / 50.0);
        engine.setClarity(position(wanted.clarity) / 100.0);
        sound = wanted;
    }

    RunEnding VocodingRun::runLoop()
    {
        RunHoldings& holdings = *held;
        engine::VocoderEngine& engine = *holdings.engine;
        InputBlocks inputs = holdings.carrierSupply
            ? InputBlocks(
                holdings.modulator, holdings.modulatorBlock.get(), *holdings.carrierSupply)
            : InputBlocks(holdings.carrier, holdings.modulator, holdings.carrierBlock.get(),
                holdings.modulatorBlock.get());
        OutputEncoder encoder(outputFormat.bitsPerSample);
        std::vector<double>& carrierValues = holdings.carrierValues;
        std::vector<double>& modulatorValues = holdings.modulatorValues;
        std::vector<double>& results = holdings.results;
        const std::uint64_t totalBytes = inputs.totalBytes();
        framesTotal = inputs.totalFrames();
        int lastPosition = 0;

        for (;;) {
            if (state.stopRequested)
                return endedAs(JobOutcome::Stopped);
            if (state.closeRequested) {
                if (previewing() || events.askQuestion(message::abortQuestion))
                    return endedAs(JobOutcome::ProgramEnded);
                state.closeRequested = false;
            }
            if (previewing())
                applySound(events.liveSound(sound));

            int frameCount = 0;
            switch (inputs.read(carrierValues, modulatorValues, frameCount)) {
            case InputBlocks::Result::Block:
                break;
            case InputBlocks::Result::End:
                return endedAs(JobOutcome::Finished);
            case InputBlocks::Result::ModulatorFailed:
                return systemFailure(message::modulatorNotRead, settings.modulatorPath);
            case InputBlocks::Result::CarrierFailed:
                return systemFailure(message::carrierNotRead, settings.carrierPath);
            case InputBlocks::Result::CarrierReopenFailed:
                return failure(message::carrierNotOpened, settings.carrierPath, reopenCause);
            }

            const auto frames = static_cast<std::size_t>(frameCount);
            engine.processBlock(std::span<const double>(carrierValues.data(), frames),
                std::span<const double>(modulatorValues.data(), frames),
                std::span<double>(results.data(), frames));
            std::uint8_t* outputBlock = holdings.outputBlock.get();
            const std::size_t byteCount = encoder.encode(
                std::span<const double>(results.data(), frames), engine.outputGain(), outputBlock);
            clippedSamples = encoder.clippedSamples();
            peak = encoder.level().peak();
            clipFreeGain = encoder.level().clipFreeGain();

            if (totalBytes != 0) {
                const double fraction
                    = static_cast<double>(inputs.bytesTaken()) / static_cast<double>(totalBytes);
                // Reads may run past a data chunk's declared size; the bar stops at 100.
                const int position = std::min(static_cast<int>(fraction * 100.0), 100);
                if (position != lastPosition) {
                    events.progress(position);
                    lastPosition = position;
                }
            }

            if (PreviewSink* stream = holdings.sink.stream()) {
                stream->writeBlock(outputBlock, static_cast<unsigned long>(frameCount));
            } else if (wave::writeWave(*holdings.sink.file(), outputBlock, byteCount)
                != static_cast<std::int64_t>(byteCount)) {
                return systemFailure(message::outputNotWritten, settings.outputPath);
            }
            framesDone += frames;
            const PreviewSink* stream = holdings.sink.stream();
            state.bandLevels.publish(engine.bandLevels(), framesDone, outputFormat.sampleRate,
                stream ? stream->outputLatencySeconds() : 0.0);
        }
    }

    // Hands back everything the run had taken, finishing the output as far as it went.
    JobOutcome VocodingRun::recoverFromMemoryFailure()
    {
        RunEnding ending = failure(message::outOfMemory);
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
