#include "vocoding_job.h"

#include "control_ids.h"
#include "engine/vocoder_engine.h"
#include "job_messages.h"
#include "mono_input.h"
#include "preview_stream.h"
#include "same_file.h"
#include "sample_formats.h"
#include "second_core.h"
#include "wave/wave_file.h"

#include <algorithm>
#include <array>
#include <new>
#include <optional>

namespace lumivox::job {

namespace {

    using Buffer = std::unique_ptr<std::uint8_t[]>;

    // The path controls and About, disabled while a job runs and enabled again after it.
    constexpr std::array pathControls { control::carrierPath, control::carrierBrowse,
        control::modulatorPath, control::modulatorBrowse, control::outputPath,
        control::outputBrowse, control::aboutButton };
    constexpr std::array sliders { control::clearanceSlider, control::vaguenessSlider,
        control::gainSlider };

    Buffer takeFromFreeStore(std::size_t byteCount)
    {
        return Buffer(new (std::nothrow) std::uint8_t[byteCount]);
    }

    // Only 8- and 16-bit PCM can be vocoded.
    bool isVocodablePcm(const wave::WaveFormat& format)
    {
        return format.formatTag == wave::pcmFormatTag
            && (format.bitsPerSample == 8 || format.bitsPerSample == 16);
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

    // One run of the job. Everything it takes is a member, so that whatever way the run ends, the
    // owner can still finish the output and hand the controls back.
    class VocodingRun {
    public:
        VocodingRun(JobMode runMode, JobState& jobState, DialogPort& dialogPort,
            const JobEnvironment& environment)
            : mode(runMode)
            , state(jobState)
            , port(dialogPort)
            , takeBuffer(environment.takeBuffer ? environment.takeBuffer : takeFromFreeStore)
            , makeEngine(environment.makeEngine)
            , previewSink(environment.previewSink)
        {
        }

        JobOutcome run();
        JobOutcome recoverFromMemoryFailure();

    private:
        std::optional<JobOutcome> prepare();
        std::optional<JobOutcome> openSink();
        void applySliders();
        void changeControls();
        void restoreControls();
        JobOutcome runLoop();
        JobOutcome finishRun(JobOutcome outcome);
        JobOutcome endOnCloseRequest();
        bool closeWriter();
        void releaseInputs();
        void clearFlags();
        JobOutcome fail(std::string_view message);

        bool eightBit() const { return carrier.format.bitsPerSample == 8; }
        bool previewing() const { return mode == JobMode::Preview; }

        JobMode mode;
        JobState& state;
        DialogPort& port;
        std::function<Buffer(std::size_t)> takeBuffer;
        std::function<std::unique_ptr<engine::VocoderEngine>()> makeEngine;

        Buffer carrierBlock;
        Buffer modulatorBlock;
        Buffer outputBlock;
        MonoInput carrier;
        MonoInput modulator;
        wave::WaveFormat outputFormat;

        std::unique_ptr<wave::WaveWriter> writer;
        bool writeFailed = false;
        PreviewSink* previewSink = nullptr;
        std::optional<PortAudioPreview> ownPreview; // used when the environment gives no sink
        bool sinkOpen = false;

        std::unique_ptr<engine::VocoderEngine> engine;
        bool controlsChanged = false;
    };

    JobOutcome VocodingRun::fail(std::string_view message)
    {
        port.showError(message);
        releaseInputs();
        return JobOutcome::Failed;
    }

    // Buffers first, then the carrier reader, then the modulator reader.
    void VocodingRun::releaseInputs()
    {
        carrierBlock.reset();
        modulatorBlock.reset();
        outputBlock.reset();
        carrier.interleaved.reset();
        modulator.interleaved.reset();
        if (carrier.reader)
            static_cast<void>(wave::closeWave(std::move(carrier.reader)));
        if (modulator.reader)
            static_cast<void>(wave::closeWave(std::move(modulator.reader)));
    }

    JobOutcome VocodingRun::run()
    {
        if (const auto refused = prepare())
            return *refused;

        engine = makeEngine ? makeEngine() : std::make_unique<engine::VocoderEngine>();
        engine->setTwoThreads(useSecondCore(
            previewing(), std::min(carrier.monoByteCount(), modulator.monoByteCount())));
        state.jobBusy = true;
        applySliders();

        if (previewing() && !previewSink->start()) {
            // The sink has closed the stream that would not start.
            sinkOpen = false;
            port.showError(message::streamNotOpened);
            releaseInputs();
            state.jobBusy = false;
            state.stopRequested = false;
            engine.reset();
            return JobOutcome::Failed;
        }

        changeControls();
        return runLoop();
    }

    // Opens and checks both inputs and opens the sink; an outcome only when the job has failed.
    std::optional<JobOutcome> VocodingRun::prepare()
    {
        if (!(carrierBlock = takeBuffer(blockBufferBytes)))
            return fail(message::carrierBuffer);
        if (!(modulatorBlock = takeBuffer(blockBufferBytes)))
            return fail(message::modulatorBuffer);
        if (!(outputBlock = takeBuffer(blockBufferBytes)))
            return fail(message::outputBuffer);

        carrier.reader
            = wave::openWaveReader(state.carrierPath, &carrier.format, &carrier.dataLength);
        if (!carrier.reader)
            return fail(message::carrierNotOpened);
        modulator.reader
            = wave::openWaveReader(state.modulatorPath, &modulator.format, &modulator.dataLength);
        if (!modulator.reader)
            return fail(message::modulatorNotOpened);

        if (!isVocodablePcm(carrier.format))
            return fail(message::carrierNotPcm);
        if (!isVocodablePcm(modulator.format))
            return fail(message::modulatorNotPcm);

        if (!hasOneOrTwoChannels(carrier.format))
            return fail(message::carrierChannels);
        if (!carrier.isMono() && !(carrier.interleaved = takeBuffer(interleavedBufferBytes)))
            return fail(message::carrierBuffer);
        if (!hasOneOrTwoChannels(modulator.format))
            return fail(message::modulatorChannels);
        if (!modulator.isMono() && !(modulator.interleaved = takeBuffer(interleavedBufferBytes)))
            return fail(message::modulatorBuffer);

        if (carrier.format.bitsPerSample != modulator.format.bitsPerSample)
            return fail(message::bitDepthsDiffer);
        if (carrier.format.sampleRate != modulator.format.sampleRate)
            return fail(message::sampleRatesDiffer);

        outputFormat = monoOutputFormat(carrier.format);
        return openSink();
    }

    std::optional<JobOutcome> VocodingRun::openSink()
    {
        if (!previewing()) {
            // Creating the writer empties the file: it must not be one of the inputs.
            if (namesSameFile(state.outputPath, state.carrierPath)
                || namesSameFile(state.outputPath, state.modulatorPath))
                return fail(message::outputNotOpened);
            writer = wave::createWaveWriter(state.outputPath, outputFormat);
            if (!writer)
                return fail(message::outputNotOpened);
            return std::nullopt;
        }

        if (previewSink == nullptr)
            previewSink = &ownPreview.emplace();
        PreviewFormat format;
        format.sampleRate = static_cast<double>(outputFormat.sampleRate);
        format.bitsPerSample = outputFormat.bitsPerSample;
        format.framesPerBuffer = eightBit() ? 4096 : 2048; // one full mono block
        switch (previewSink->open(format)) {
        case PreviewOpenResult::Opened:
            sinkOpen = true;
            return std::nullopt;
        case PreviewOpenResult::NoDevice:
            return fail(message::noOutputDevice);
        case PreviewOpenResult::NoDeviceInfo:
            return fail(message::noDeviceInfo);
        case PreviewOpenResult::StreamNotOpened:
            break;
        }
        return fail(message::streamNotOpened);
    }

    void VocodingRun::applySliders()
    {
        const auto position = [this](int id) {
            return static_cast<double>(std::clamp(port.readSlider(id), 0, 100));
        };
        engine->setClearance(position(control::clearanceSlider) / 100.0);
        engine->setVagueness(position(control::vaguenessSlider) / 100.0);
        engine->setOutputGain(position(control::gainSlider) / 50.0);
    }

    void VocodingRun::changeControls()
    {
        port.setProgress(0);
        for (const int id : pathControls)
            port.enableControl(id, false);
        if (previewing()) {
            port.setButtonText(control::previewButton, "Stop");
            port.enableControl(control::vocodeButton, false);
            state.previewRunning = true;
        } else {
            for (const int id : sliders)
                port.enableControl(id, false);
            port.setButtonText(control::vocodeButton, "Cancel");
            port.enableControl(control::previewButton, false);
        }
        controlsChanged = true;
    }

    void VocodingRun::restoreControls()
    {
        if (previewing()) {
            port.setButtonText(control::previewButton, "Preview");
            port.enableControl(control::vocodeButton, true);
        } else {
            for (const int id : sliders)
                port.enableControl(id, true);
            port.setButtonText(control::vocodeButton, "Vocode");
            port.enableControl(control::previewButton, true);
        }
        for (const int id : pathControls)
            port.enableControl(id, true);
        controlsChanged = false;
    }

    void VocodingRun::clearFlags()
    {
        state.jobBusy = false;
        state.previewRunning = false;
        state.stopRequested = false;
    }

    JobOutcome VocodingRun::runLoop()
    {
        const bool sixteenBit = !eightBit();
        const std::uint64_t totalBytes
            = std::min(carrier.monoByteCount(), modulator.monoByteCount());
        std::uint64_t processedBytes = 0;
        int lastPosition = 0;
        bool lastBlock = false;

        for (;;) {
            if (state.stopRequested)
                return finishRun(JobOutcome::Stopped);
            if (state.closeRequested) {
                if (previewing() || port.askQuestion(message::abortQuestion))
                    return endOnCloseRequest();
                state.closeRequested = false;
            }
            if (previewing())
                applySliders();

            // The modulator is read first: its end, or a failed read, ends the run.
            const std::int64_t modulatorBytes
                = readMonoBlock(modulator, modulatorBlock.get(), sixteenBit);
            if (modulatorBytes <= 0 || lastBlock)
                break;
            const std::int64_t carrierBytes
                = readMonoBlock(carrier, carrierBlock.get(), sixteenBit);
            if (carrierBytes <= 0)
                break;
            std::int64_t length = modulatorBytes;
            if (carrierBytes < modulatorBytes) {
                length = carrierBytes;
                lastBlock = true;
            }

            const int sampleCount = static_cast<int>(sixteenBit ? length / 2 : length);
            if (sixteenBit) {
                processBlockInt16(*engine, reinterpret_cast<std::int16_t*>(outputBlock.get()),
                    reinterpret_cast<const std::int16_t*>(carrierBlock.get()),
                    reinterpret_cast<const std::int16_t*>(modulatorBlock.get()), sampleCount);
            } else {
                processBlockUInt8(*engine, outputBlock.get(), carrierBlock.get(),
                    modulatorBlock.get(), sampleCount);
            }

            processedBytes += static_cast<std::uint64_t>(length);
            if (totalBytes != 0) {
                const double fraction
                    = static_cast<double>(processedBytes) / static_cast<double>(totalBytes);
                // Reads may run past a data chunk's declared size; the bar stops at 100.
                const int position = std::min(static_cast<int>(fraction * 100.0), 100);
                if (position != lastPosition) {
                    port.setProgress(position);
                    lastPosition = position;
                }
            }

            if (previewing()) {
                previewSink->writeBlock(outputBlock.get(), static_cast<unsigned long>(sampleCount));
            } else {
                // Whole samples only: an odd byte at the end of a 16-bit block was never computed.
                const auto byteCount
                    = static_cast<std::size_t>(sixteenBit ? 2 * sampleCount : sampleCount);
                if (wave::writeWave(*writer, outputBlock.get(), byteCount)
                    != static_cast<std::int64_t>(byteCount)) {
                    writeFailed = true;
                    return finishRun(JobOutcome::Failed);
                }
            }
        }
        return finishRun(JobOutcome::Finished);
    }

    bool VocodingRun::closeWriter()
    {
        if (!writer)
            return true;
        return wave::closeWave(std::move(writer)) && !writeFailed;
    }

    JobOutcome VocodingRun::finishRun(JobOutcome outcome)
    {
        if (!writeFailed)
            port.setProgress(100);
        if (previewing()) {
            previewSink->finish(state.stopRequested);
            sinkOpen = false;
        } else if (!closeWriter()) {
            // The file holds what could be written; the user must know it is not all.
            port.showError(message::outputNotWritten);
            outcome = JobOutcome::Failed;
        }
        releaseInputs();
        restoreControls();
        clearFlags();
        engine.reset();
        return outcome;
    }

    // The front end ends the program once the job has returned; the output file is finished first.
    JobOutcome VocodingRun::endOnCloseRequest()
    {
        if (previewing()) {
            previewSink->abort();
            releaseInputs();
            previewSink->close();
            sinkOpen = false;
        } else {
            releaseInputs();
            if (!closeWriter())
                port.showError(message::outputNotWritten);
        }
        clearFlags();
        engine.reset();
        port.endProgram();
        return JobOutcome::ProgramEnded;
    }

    // Hands back everything the run had taken, finishing the output as far as it went.
    JobOutcome VocodingRun::recoverFromMemoryFailure()
    {
        if (sinkOpen) {
            previewSink->finish(true);
            sinkOpen = false;
        }
        static_cast<void>(closeWriter()); // the memory message below reports this run's failure
        releaseInputs();
        if (controlsChanged)
            restoreControls();
        clearFlags();
        engine.reset();
        port.showError(message::outOfMemory);
        return JobOutcome::Failed;
    }

} // namespace

JobOutcome runVocodingJob(
    JobMode mode, JobState& state, DialogPort& port, const JobEnvironment& environment)
{
    VocodingRun run(mode, state, port, environment);
    try {
        return run.run();
    } catch (const std::bad_alloc&) {
        // Handled below, outside the handler, so that recovering cannot throw from inside it.
    }
    return run.recoverFromMemoryFailure();
}

JobOutcome runVocodingJob(JobMode mode, JobState& state, DialogPort& port)
{
    return runVocodingJob(mode, state, port, JobEnvironment {});
}

} // namespace lumivox::job
