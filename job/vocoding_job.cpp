#include "vocoding_job.h"

#include "carrier_supply.h"
#include "engine/follow_voice_sound.h"
#include "engine/vocoder_engine.h"
#include "input_blocks.h"
#include "input_checks.h"
#include "input_lengths.h"
#include "input_source.h"
#include "job_messages.h"
#include "mono_input.h"
#include "output_encoder.h"
#include "output_file.h"
#include "preview_stream.h"
#include "same_file.h"
#include "second_core.h"
#include "thread_choice.h"
#include "vocode_pipeline.h"
#include "wave/resampler.h"
#include "wave/sample_stores.h"
#include "wave/sound_file.h"
#include "wave/wave_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <sstream>
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

        void attach(std::unique_ptr<OutputFile> outputFile) { writer = std::move(outputFile); }
        void attach(PreviewSink& stream) { preview = &stream; }

        // Closes the file (writing its final header), or ends the stream: played out, or at once
        // when aborting. False when the file could not be finished completely; closeFailure()
        // then says why.
        [[nodiscard]] bool finish(bool abort)
        {
            if (preview != nullptr) {
                std::exchange(preview, nullptr)->finish(abort);
                return true;
            }
            if (writer)
                return writer->finish();
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

        OutputFile* file() const { return writer.get(); }
        PreviewSink* stream() const { return preview; }

    private:
        std::unique_ptr<OutputFile> writer;
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
        std::optional<VocodePipeline> blocks;
        // The inputs as the engine takes them; they read through the buffers and inputs above.
        std::unique_ptr<InputSource> modulatorSource;
        std::unique_ptr<InputSource> carrierSource;
        // Set when the carrier is repeated: it is carrierSource.
        RepeatingSource* repeatingCarrier = nullptr;
        // Set when the carrier is a built-in sound: it is carrierSource.
        BuiltInCarrierSource* builtInSound = nullptr;
        RunSink sink;
    };

    // The messages of one input's refusals.
    struct InputMessages {
        std::string_view notOpened;
        std::string_view notPcm;
        std::string_view channels;
        std::string_view buffer;
    };

    constexpr InputMessages carrierMessages { message::carrierNotOpened, message::carrierNotPcm,
        message::carrierChannels, message::carrierBuffer };
    constexpr InputMessages modulatorMessages { message::modulatorNotOpened,
        message::modulatorNotPcm, message::modulatorChannels, message::modulatorBuffer };

    // An 8- or 16-bit PCM wave file of one or two channels: read as it always has been.
    bool readsAsBefore(const MonoInput& input)
    {
        return input.reader && isVocodablePcm(input) && hasOneOrTwoChannels(input.format);
    }

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
            , makeThreadPlan(environment.makeThreadPlan)
            , previewSink(environment.previewSink)
            , carrierKeptFrames(environment.carrierKeptFrames)
            , held(std::in_place, jobState, frontEnd, runSettings.mode)
        {
        }

        JobOutcome run();
        JobOutcome recoverFromMemoryFailure();

    private:
        std::optional<RunEnding> prepare();
        std::optional<RunEnding> openInput(InputRole role);
        std::optional<RunEnding> matchRates();
        void makeBuiltInCarrier();
        void repeatCarrier();
        std::unique_ptr<InputSource> reopenCarrier(std::string& cause);
        std::optional<RunEnding> openSink();
        void applySound(const SoundSettings& wanted);
        RunEnding runLoop();
        void noteInputLengths(CountedSource& carrier, CountedSource& modulator);
        friend class RunOutput;
        JobOutcome finish(RunEnding ending);
        JobOutcome report(const RunEnding& ending);
        double seconds(std::uint64_t frameCount) const;
        void noteShortInput();
        void noteOutput(const OutputFile& file);

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
        std::function<std::unique_ptr<SegmentPlan>(bool)> makeThreadPlan;
        PreviewSink* previewSink = nullptr;
        std::size_t carrierKeptFrames = 0;
        std::optional<PortAudioPreview> ownPreview; // used when the environment gives no sink
        std::optional<RunHoldings> held;
        std::optional<engine::DesignedBands> bands; // designed once the output's rate is known

        wave::WaveFormat outputFormat;
        wave::OutputDepth outputDepth = wave::OutputDepth::Int16;
        int blockFrames = 2048;
        bool twoThreadsAllowed = false;
        std::string conversion; // what was done to the inputs, for the report
        bool loopStarted = false;
        std::uint64_t framesDone = 0;
        std::uint64_t framesTotal = 0;
        std::uint64_t clippedSamples = 0;
        double peak = 0.0;
        double clipFreeGain = std::numeric_limits<double>::infinity();
        double carrierSeconds = 0.0;
        double modulatorSeconds = 0.0;
        bool leftOutAtLeast = false;
        bool totalKnown = true; // see RunReport::totalKnown
        // An input whose data was found short only when the rest of it was counted after the
        // run: what was vocoded was not cut by it (a piped file declares a length it never has).
        const MonoInput* countedToItsEnd = nullptr;
        bool floatOutput = false;
        std::string outputNote;
        std::optional<double> normalizedBy;
        std::optional<ShortInput> shortInput;
        wave::SoundFileFormat carrierSoundFormat; // for a carrier read through libsndfile
    };

    // An input's length in seconds, from a count of its own bytes.
    double inputSeconds(const MonoInput& input, std::uint64_t byteCount)
    {
        const double bytesPerSecond = static_cast<double>(input.format.sampleRate)
            * std::max<std::uint16_t>(input.format.blockAlign, 1);
        return input.format.sampleRate == 0 ? 0.0 : static_cast<double>(byteCount) / bytesPerSecond;
    }

    // Remembers an input whose data ended before its declared length; the modulator, whose end
    // ends the run, is named first.
    void VocodingRun::noteShortInput()
    {
        for (const MonoInput* input : { &held->modulator, &held->carrier }) {
            if (input == countedToItsEnd)
                continue;
            if (input->reader && input->reader->endedEarly()) {
                shortInput = ShortInput { input == &held->modulator,
                    inputSeconds(*input, input->reader->dataBytesRead()),
                    inputSeconds(*input, input->reader->dataLength()) };
                return;
            }
        }
    }

    // What the finished output file holds: a normalized one's level is known only now.
    void VocodingRun::noteOutput(const OutputFile& file)
    {
        clippedSamples = file.encoder().clippedSamples();
        peak = file.encoder().level().peak();
        clipFreeGain = file.encoder().level().clipFreeGain();
        normalizedBy = file.normalizedBy();
        floatOutput = file.storedDepth() == wave::OutputDepth::Float32;
        if (!file.unknownEnding().empty())
            outputNote = "written as WAV: the ending " + file.unknownEnding()
                + " is not one of .wav, .flac, .ogg, .opus, .mp3 or .aiff";
    }

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
        summary.totalKnown = totalKnown;
        summary.clippedSamples = clippedSamples;
        summary.conversion = conversion;
        summary.peak = peak;
        summary.clipFreeGain = clipFreeGain;
        summary.carrierSeconds = carrierSeconds;
        summary.modulatorSeconds = modulatorSeconds;
        summary.leftOutAtLeast = leftOutAtLeast;
        summary.floatOutput = floatOutput;
        summary.outputNote = outputNote;
        summary.normalizedByDecibels = normalizedBy;
        summary.failure = std::string(ending.message);
        summary.failureDetail = ending.detail.line();
        summary.shortInput = shortInput;
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
        if (loopStarted)
            noteShortInput();

        if (programEnds && previewing()) {
            holdings.sink.abortAndClose();
        } else if (!holdings.sink.finish(
                       state.stopRequested || ending.outcome == JobOutcome::Failed)
            && ending.message.empty()) {
            // The file holds what could be written; the user must know it is not all.
            ending.message = message::outputNotWritten;
            ending.detail = { settings.outputPath, holdings.sink.file()->failureCause() };
            if (!programEnds)
                ending.outcome = JobOutcome::Failed;
        }
        if (const OutputFile* file = holdings.sink.file())
            noteOutput(*file);
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

        if (makeEngine)
            held->engine = makeEngine();
        else if (bands->bands.isClassic())
            held->engine = std::make_unique<engine::VocoderEngine>();
        else
            held->engine = std::make_unique<engine::VocoderEngine>(bands->bands);
        held->engine->setVectorChoice(settings.vectors);
        if (settings.carrier.kind == CarrierKind::FollowVoice)
            held->engine->setHarmonicBandVagueness(engine::FollowVoiceSound::harmonicBandVagueness);
        const std::uint64_t frames
            = std::min(held->carrierSource->frameCount(), held->modulatorSource->frameCount());
        twoThreadsAllowed = settings.vectors.blockPath
            && useSecondCore(previewing(), frames, outputFormat.sampleRate);
        held->blocks.emplace(*held->engine, blockFrames, twoThreadsAllowed);
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
        const MonoInput& carrier = holdings.carrier;
        if (!(holdings.carrierBlock = takeBuffer(blockBufferBytes)))
            return failure(message::carrierBuffer);
        if (!(holdings.modulatorBlock = takeBuffer(blockBufferBytes)))
            return failure(message::modulatorBuffer);
        if (!(holdings.outputBlock = takeBuffer(blockBufferBytes)))
            return failure(message::outputBuffer);

        if (!builtInCarrier()) {
            if (auto refused = openInput(InputRole::Carrier))
                return refused;
        }
        if (auto refused = openInput(InputRole::Modulator))
            return refused;
        if (builtInCarrier())
            makeBuiltInCarrier();
        else if (auto refused = matchRates())
            return refused;
        // Each input's length at the carrier's rate, before a repeat makes the carrier endless.
        const double rate = static_cast<double>(holdings.carrierSource->sampleRate());
        modulatorSeconds = static_cast<double>(holdings.modulatorSource->frameCount()) / rate;
        carrierSeconds = builtInCarrier()
            ? modulatorSeconds
            : static_cast<double>(holdings.carrierSource->frameCount()) / rate;
        // An input that says more than its file holds is the shorter one only by its claim.
        totalKnown = holdings.modulatorSource->lengthTrusted()
            && (builtInCarrier() || settings.repeatCarrier
                || holdings.carrierSource->lengthTrusted());
        // A carrier that does not say how long it is is repeated as well: it may hold frames.
        if (settings.repeatCarrier && !builtInCarrier()
            && (holdings.carrierSource->frameCount() > 0
                || !holdings.carrierSource->lengthKnown())) {
            // A repeated carrier lasts as long as the modulator: nothing of it is left out.
            repeatCarrier();
            carrierSeconds = std::max(carrierSeconds, modulatorSeconds);
        }

        InputSource& carrierSource = *holdings.carrierSource;
        outputDepth = carrierSource.depth();
        // Both inputs 8-bit: blocks of 4096 frames, as they have always been.
        blockFrames = outputDepth == wave::OutputDepth::UInt8
                && holdings.modulatorSource->depth() == wave::OutputDepth::UInt8
            ? InputBlocks::maxFrames
            : InputBlocks::maxFrames / 2;
        outputFormat = carrier.reader
            ? monoOutputFormat(carrier.format)
            : wave::monoWaveFormat(outputDepth, carrierSource.sampleRate());
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
            return failure(message::bandsAboveRate, {}, cause.str());
        }
        return openSink();
    }

    // The built-in sound stands in for the carrier file: at the modulator's own rate, so nothing
    // is resampled, and 16-bit unless the modulator is wider.
    void VocodingRun::makeBuiltInCarrier()
    {
        RunHoldings& holdings = *held;
        const InputSource& modulator = *holdings.modulatorSource;
        auto made = std::make_unique<BuiltInCarrierSource>(settings.carrier, modulator.sampleRate(),
            builtInDepth(modulator.depth()), !previewing());
        holdings.builtInSound = made.get();
        holdings.carrierSource = std::move(made);
    }

    // The carrier file is played again from its start whenever it ends, crossfaded at each seam.
    void VocodingRun::repeatCarrier()
    {
        RunHoldings& holdings = *held;
        const std::size_t fadeFrames = seamFadeFrames(holdings.carrierSource->sampleRate());
        // A short carrier read through libsndfile is decoded once and played from memory.
        const std::size_t keptFrames = holdings.carrier.reader ? 0 : carrierKeptFrames;
        auto repeating = std::make_unique<RepeatingSource>(
            std::move(holdings.carrierSource),
            [this](std::string& cause) { return reopenCarrier(cause); }, fadeFrames, keptFrames);
        holdings.repeatingCarrier = repeating.get();
        holdings.carrierSource = std::move(repeating);
    }

    // Opens the carrier again to repeat it, by the reader that first opened it; it must still have
    // the format the run started with.
    std::unique_ptr<InputSource> VocodingRun::reopenCarrier(std::string& cause)
    {
        MonoInput& carrier = held->carrier;
        const std::string changed = "it changed while it was being repeated";
        if (carrier.reader) {
            wave::WaveFormat format;
            std::uint32_t dataLength = 0;
            wave::WaveFileError why;
            auto reader = wave::openWaveReader(settings.carrierPath, &format, &dataLength, &why);
            if (!reader) {
                cause = wave::describe(why);
                return nullptr;
            }
            if (format.channels != carrier.format.channels
                || format.bitsPerSample != carrier.format.bitsPerSample
                || format.sampleRate != carrier.format.sampleRate
                || format.formatTag != carrier.format.formatTag) {
                cause = changed;
                return nullptr;
            }
            carrier.reader = std::move(reader);
            carrier.dataLength = dataLength;
            return std::make_unique<WaveInputSource>(
                carrier, held->carrierBlock.get(), InputRole::Carrier);
        }
        // Each pass is held locked as the first was, and read from the very file held.
        wave::WaveFileError lockWhy;
        wave::FileHandle heldOpen = wave::holdForReading(settings.carrierPath, &lockWhy);
        if (!heldOpen) {
            cause = wave::describe(lockWhy);
            return nullptr;
        }
        wave::SoundFileRefusal refusal = wave::SoundFileRefusal::None;
        auto reader = wave::openSoundFileOn(::fileno(heldOpen.get()),
            static_cast<std::size_t>(InputBlocks::maxFrames / 2), &refusal, &cause);
        if (!reader)
            return nullptr;
        const wave::SoundFileFormat& format = reader->format();
        if (format.channels != carrierSoundFormat.channels
            || format.bitsPerSample != carrierSoundFormat.bitsPerSample
            || format.sampleRate != carrierSoundFormat.sampleRate
            || format.encoding != carrierSoundFormat.encoding) {
            cause = changed;
            return nullptr;
        }
        carrier.heldOpen = std::move(heldOpen);
        return std::make_unique<SoundInputSource>(std::move(reader), InputRole::Carrier);
    }

    // Opens one input: an 8- or 16-bit wave file as before, anything else through libsndfile. A
    // file neither reads keeps the message it has always had, with the cause on its second line.
    std::optional<RunEnding> VocodingRun::openInput(InputRole role)
    {
        RunHoldings& holdings = *held;
        const bool isCarrier = role == InputRole::Carrier;
        MonoInput& input = isCarrier ? holdings.carrier : holdings.modulator;
        const std::string& path = isCarrier ? settings.carrierPath : settings.modulatorPath;
        const InputMessages& text = isCarrier ? carrierMessages : modulatorMessages;
        std::unique_ptr<InputSource>& source
            = isCarrier ? holdings.carrierSource : holdings.modulatorSource;

        wave::WaveFileError why;
        input.reader = wave::openWaveReader(path, &input.format, &input.dataLength, &why);
        // A file that another run writes is not read, by either reader.
        if (wave::isLockRefusal(why))
            return failure(text.notOpened, path, wave::describe(why));
        if (readsAsBefore(input)) {
            if (readInput) {
                input.readBytes
                    = [this, role](wave::WaveReader& reader, void* buffer, std::size_t count) {
                          return readInput(role, reader, buffer, count);
                      };
            }
            if (!input.isMono() && !(input.interleaved = takeBuffer(interleavedBufferBytes)))
                return failure(text.buffer);
            std::uint8_t* block
                = (isCarrier ? holdings.carrierBlock : holdings.modulatorBlock).get();
            source = std::make_unique<WaveInputSource>(input, block, role);
            return std::nullopt;
        }

        // libsndfile reads the very file that is held locked; one that cannot be held (a FIFO,
        // a device, a missing file) is refused here, before anything could wait on it.
        wave::WaveFileError lockWhy;
        wave::FileHandle heldOpen = wave::holdForReading(path, &lockWhy);
        if (!heldOpen)
            return failure(text.notOpened, path, wave::describe(lockWhy));
        wave::SoundFileRefusal refusal = wave::SoundFileRefusal::None;
        std::string cause;
        auto reader = wave::openSoundFileOn(::fileno(heldOpen.get()),
            static_cast<std::size_t>(InputBlocks::maxFrames / 2), &refusal, &cause);
        if (reader) {
            input.reader.reset();
            input.heldOpen = std::move(heldOpen);
            if (isCarrier)
                carrierSoundFormat = reader->format();
            source = std::make_unique<SoundInputSource>(std::move(reader), role);
            return std::nullopt;
        }
        if (refusal == wave::SoundFileRefusal::Channels)
            return failure(text.channels, path, cause);
        if (input.reader) {
            // A wave file that neither reads: refused as it always was, unless its channels or
            // its rate are beyond every reader, which then is the cause, whatever its depth.
            if (input.format.channels == 0 || input.format.channels > wave::mostChannels)
                return failure(
                    text.channels, path, std::to_string(input.format.channels) + " channels");
            if (!isVocodablePcm(input))
                return failure(text.notPcm, path, whyNotVocodable(input));
            return failure(
                text.channels, path, std::to_string(input.format.channels) + " channels");
        }
        if (refusal == wave::SoundFileRefusal::SampleRate)
            return failure(text.notPcm, path, cause);
        // A wave file keeps the cause the wave reader gives; anything else gets libsndfile's.
        if (why.problem != wave::WaveFileProblem::NotRiffWave)
            return failure(text.notOpened, path, wave::describe(why));
        return failure(text.notOpened, path, cause);
    }

    // A modulator at another rate than the carrier's is resampled to it as it is read.
    std::optional<RunEnding> VocodingRun::matchRates()
    {
        RunHoldings& holdings = *held;
        const std::uint32_t carrierRate = holdings.carrierSource->sampleRate();
        const std::uint32_t modulatorRate = holdings.modulatorSource->sampleRate();
        if (carrierRate == modulatorRate)
            return std::nullopt;
        // Rates too far apart would keep libsoxr busy for minutes or take all memory.
        if (!wave::canResample(modulatorRate, carrierRate)) {
            const bool up = carrierRate > modulatorRate;
            return failure(message::sampleRatesDiffer, settings.modulatorPath,
                "the modulator's " + std::to_string(modulatorRate) + " Hz is more than "
                    + std::to_string(
                        static_cast<int>(up ? wave::mostUpsampling : wave::mostDownsampling))
                    + (up ? " times below" : " times above") + " the carrier's "
                    + std::to_string(carrierRate) + " Hz");
        }
        std::string cause;
        // A stop is seen between the resampler's steps, not only between blocks.
        auto resampled = ResampledSource::create(std::move(holdings.modulatorSource), carrierRate,
            cause, [this] { return state.stopRequested.load(); });
        if (!resampled)
            return failure(message::modulatorNotRead, settings.modulatorPath, cause);
        holdings.modulatorSource = std::move(resampled);
        conversion = "modulator resampled from " + std::to_string(modulatorRate) + " Hz to "
            + std::to_string(carrierRate) + " Hz";
        return std::nullopt;
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
            OutputPlan plan;
            plan.path = settings.outputPath;
            plan.waveFormat = outputFormat;
            plan.depth = outputDepth;
            plan.sampleRate = outputFormat.sampleRate;
            plan.normalizeDecibels = settings.normalizeDecibels;
            wave::WaveFileError why;
            std::string cause;
            auto writer = OutputFile::open(plan, why, cause);
            if (!writer)
                return failure(message::outputNotOpened, settings.outputPath,
                    cause.empty() ? wave::describe(why) : cause);
            if (const std::uint32_t fileRate = writer->resampledTo()) {
                conversion += conversion.empty() ? "" : "; ";
                conversion += "output resampled from " + std::to_string(plan.sampleRate) + " Hz to "
                    + std::to_string(fileRate) + " Hz, a rate its format holds";
            }
            held->sink.attach(std::move(writer));
            return std::nullopt;
        }

        if (previewSink == nullptr)
            previewSink = &ownPreview.emplace();
        PreviewFormat format;
        format.sampleRate = static_cast<double>(outputFormat.sampleRate);
        // 24-bit and float results are played as 32-bit float.
        format.bitsPerSample = outputFormat.bitsPerSample > 16 ? 32 : outputFormat.bitsPerSample;
        format.framesPerBuffer = static_cast<unsigned long>(blockFrames); // one full mono block
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
        engine.setOutputGain(position(wanted.gain) / 50.0 * (bands ? bands->levelGain : 1.0));
        engine.setClarity(position(wanted.clarity) / 100.0);
        sound = wanted;
    }

    // The run's input side: the inputs' blocks in the engine's values, on whichever thread reads
    // them. A failed read keeps which input failed; the input keeps why.
    class RunInput final : public BlockSource {
    public:
        explicit RunInput(InputBlocks& inputBlocks)
            : inputs(inputBlocks)
        {
        }

        int readBlock(std::span<double> carrier, std::span<double> modulator,
            std::uint64_t& framesTaken) override
        {
            int frameCount = 0;
            const InputBlocks::Result result = inputs.read(carrier, modulator, frameCount);
            framesTaken = inputs.framesTaken();
            switch (result) {
            case InputBlocks::Result::Block:
                return frameCount;
            case InputBlocks::Result::End:
                return 0;
            default:
                failed = result;
                return -1;
            }
        }

        InputBlocks::Result failed = InputBlocks::Result::Block;

    private:
        InputBlocks& inputs;
    };

    // The run's output side, on the job's thread: the stop and close requests before each block,
    // the live sound of a preview, and the results stored, counted, shown and written. When it
    // stops the run it keeps how the run ended.
    class RunOutput final : public BlockSink {
    public:
        RunOutput(VocodingRun& vocodingRun, std::uint64_t inputFrames)
            : run(vocodingRun)
            , encoder(
                  vocodingRun.previewing() && vocodingRun.outputDepth == wave::OutputDepth::Int24
                      ? wave::OutputDepth::Float32
                      : vocodingRun.outputDepth)
            , framesTotal(inputFrames)
        {
        }

        bool beforeBlock() override
        {
            if (run.state.stopRequested)
                return stopWith(VocodingRun::endedAs(JobOutcome::Stopped));
            if (run.state.closeRequested) {
                if (run.previewing() || run.events.askQuestion(message::abortQuestion))
                    return stopWith(VocodingRun::endedAs(JobOutcome::ProgramEnded));
                run.state.closeRequested = false;
            }
            if (run.previewing())
                run.applySound(run.events.liveSound(run.sound));
            return true;
        }

        bool takeBlock(std::span<const double> results, std::uint64_t framesTaken) override
        {
            RunHoldings& holdings = *run.held;
            const engine::VocoderEngine& engine = *holdings.engine;
            std::uint8_t* outputBlock = holdings.outputBlock.get();
            PreviewSink* stream = holdings.sink.stream();
            if (stream) {
                static_cast<void>(encoder.encode(results, engine.outputGain(), outputBlock));
                run.clippedSamples = encoder.clippedSamples();
                run.peak = encoder.level().peak();
                run.clipFreeGain = encoder.level().clipFreeGain();
            }

            if (framesTotal != 0) {
                const double fraction
                    = static_cast<double>(framesTaken) / static_cast<double>(framesTotal);
                // Reads may run past a data chunk's declared size; the bar stops at 100.
                const int position = std::min(static_cast<int>(fraction * 100.0), 100);
                if (position != lastPosition) {
                    run.events.progress(position);
                    lastPosition = position;
                }
            }

            if (stream) {
                stream->writeBlock(outputBlock, static_cast<unsigned long>(results.size()));
            } else if (!holdings.sink.file()->write(results, engine.outputGain())) {
                return stopWith(VocodingRun::failure(message::outputNotWritten,
                    run.settings.outputPath, holdings.sink.file()->failureCause()));
            }
            run.framesDone += results.size();
            run.state.bandLevels.publish(engine.bandLevels(), run.framesDone,
                run.outputFormat.sampleRate, stream ? stream->outputLatencySeconds() : 0.0);
            return true;
        }

        std::optional<RunEnding> ending;

    private:
        bool stopWith(RunEnding runEnding)
        {
            ending = std::move(runEnding);
            return false;
        }

        VocodingRun& run;
        OutputEncoder encoder;
        std::uint64_t framesTotal;
        int lastPosition = 0;
    };

    RunEnding VocodingRun::runLoop()
    {
        RunHoldings& holdings = *held;
        // Counted as read, so that the end can say which input ran out and what was left.
        CountedSource carrier(*holdings.carrierSource);
        CountedSource modulator(*holdings.modulatorSource);
        InputBlocks inputs = holdings.builtInSound
            ? InputBlocks(carrier, modulator, blockFrames, *holdings.builtInSound)
            : InputBlocks(carrier, modulator, blockFrames);
        framesTotal = inputs.totalFrames();
        RunInput input(inputs);
        RunOutput output(*this, framesTotal);
        const std::unique_ptr<SegmentPlan> threads = makeThreadPlan
            ? makeThreadPlan(twoThreadsAllowed)
            : std::make_unique<ThreadChoice>(twoThreadsAllowed);

        switch (holdings.blocks->run(input, output, *threads)) {
        case PipelineEnd::InputEnded:
            break;
        case PipelineEnd::InputFailed:
            // A stop that cut a read short ends the run as a stop between blocks does.
            if (state.stopRequested)
                return endedAs(JobOutcome::Stopped);
            // The reading thread has ended: the failed input's cause is safe to read.
            if (input.failed == InputBlocks::Result::ModulatorFailed)
                return failure(message::modulatorNotRead, settings.modulatorPath,
                    holdings.modulatorSource->failureCause());
            // A repeated carrier that cannot be opened again is refused as at the start.
            return failure(holdings.repeatingCarrier && holdings.repeatingCarrier->reopenFailed()
                    ? message::carrierNotOpened
                    : message::carrierNotRead,
                settings.carrierPath, holdings.carrierSource->failureCause());
        case PipelineEnd::Stopped:
            return std::move(*output.ending);
        }
        noteInputLengths(carrier, modulator);
        return endedAs(JobOutcome::Finished);
    }

    // Each input's length as read: the one that ran out whole, the other counted on for up to ten
    // minutes past the end (a carrier that is repeated or made has no end of its own).
    void VocodingRun::noteInputLengths(CountedSource& carrier, CountedSource& modulator)
    {
        constexpr std::uint64_t secondsCounted = 600;
        const std::uint32_t rate = carrier.sampleRate();
        std::vector<double> scratch(static_cast<std::size_t>(blockFrames));
        const auto endedEarly
            = [](const MonoInput& input) { return input.reader && input.reader->endedEarly(); };
        const bool carrierShortBefore = endedEarly(held->carrier);
        const bool modulatorShortBefore = endedEarly(held->modulator);
        const InputLengths lengths = countInputLengths(carrier, modulator,
            builtInCarrier() || held->repeatingCarrier != nullptr, secondsCounted * rate, scratch,
            state.stopRequested);
        if (!carrierShortBefore && endedEarly(held->carrier))
            countedToItsEnd = &held->carrier;
        if (!modulatorShortBefore && endedEarly(held->modulator))
            countedToItsEnd = &held->modulator;
        if (rate == 0)
            return;
        modulatorSeconds = static_cast<double>(lengths.modulatorFrames) / rate;
        // A repeated carrier's first pass, when longer than the voice, is still cut at its end:
        // its length as the file gave it, before the repeat.
        carrierSeconds = held->repeatingCarrier != nullptr
            ? std::max(carrierSeconds, modulatorSeconds)
            : static_cast<double>(lengths.carrierFrames) / rate;
        leftOutAtLeast = lengths.longerNotCountedToTheEnd;
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
