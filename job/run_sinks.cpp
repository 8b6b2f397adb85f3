#include "run_sinks.h"

#include "job_messages.h"
#include "same_file.h"
#include "wave/sample_stores.h"

#include <bit>
#include <chrono>
#include <utility>
#include <vector>

namespace lumivox::job {

std::optional<RunFailure> RunSink::openFile(const OutputPlan& plan, const std::string& carrierPath,
    const std::string& modulatorPath, std::string& conversion)
{
    if (!carrierPath.empty() && namesSameFile(plan.path, carrierPath))
        return RunFailure { message::outputNotOpened, { plan.path, "it is the carrier" } };
    if (namesSameFile(plan.path, modulatorPath))
        return RunFailure { message::outputNotOpened, { plan.path, "it is the modulator" } };
    wave::WaveFileError why;
    std::string cause;
    auto file = OutputFile::open(plan, why, cause);
    if (!file)
        return RunFailure { message::outputNotOpened,
            { plan.path, cause.empty() ? wave::describe(why) : cause } };
    if (const std::uint32_t fileRate = file->resampledTo()) {
        conversion += conversion.empty() ? "" : "; ";
        conversion += "output resampled from " + std::to_string(plan.sampleRate) + " Hz to "
            + std::to_string(fileRate) + " Hz, a rate its format holds";
    }
    writer = std::move(file);
    return std::nullopt;
}

std::optional<RunFailure> RunSink::openPreview(
    PreviewSink& stream, const wave::WaveFormat& format, wave::OutputDepth depth, int blockFrames)
{
    PreviewFormat played;
    played.sampleRate = static_cast<double>(format.sampleRate);
    played.bitsPerSample = format.bitsPerSample > 16 ? 32 : format.bitsPerSample;
    played.framesPerBuffer = static_cast<unsigned long>(blockFrames); // one full mono block
    switch (stream.open(played)) {
    case PreviewOpenResult::Opened:
        preview = &stream;
        previewEncoder.emplace(
            depth == wave::OutputDepth::Int24 ? wave::OutputDepth::Float32 : depth);
        return std::nullopt;
    case PreviewOpenResult::NoDevice:
        return RunFailure { message::noOutputDevice, {} };
    case PreviewOpenResult::NoDeviceInfo:
        return RunFailure { message::noDeviceInfo, {} };
    case PreviewOpenResult::StreamNotOpened:
        break;
    }
    return RunFailure { message::streamNotOpened, {} };
}

bool RunSink::start()
{
    if (preview == nullptr || preview->start())
        return true;
    preview = nullptr; // the stream has closed itself
    return false;
}

bool RunSink::write(std::span<const double> results, double gain)
{
    if (preview != nullptr) {
        static_cast<void>(previewEncoder->encode(results, gain, outputBlock.get()));
        preview->writeBlock(outputBlock.get(), static_cast<unsigned long>(results.size()));
        return true;
    }
    return writer->write(results, gain);
}

double RunSink::latencySeconds() const
{
    return preview != nullptr ? preview->outputLatencySeconds() : 0.0;
}

bool RunSink::finish(bool abort)
{
    if (preview != nullptr) {
        std::exchange(preview, nullptr)->finish(abort);
        return true;
    }
    if (writer)
        return writer->finish();
    return true;
}

void RunSink::abortAndClose()
{
    if (PreviewSink* stream = std::exchange(preview, nullptr)) {
        stream->abort();
        stream->close();
    }
}

const OutputEncoder* RunSink::encoder() const
{
    if (writer)
        return &writer->encoder();
    return previewEncoder ? &*previewEncoder : nullptr;
}

namespace {
    // How often the record thread looks for samples when there were none.
    constexpr auto recordPollInterval = std::chrono::milliseconds(20);
}

std::unique_ptr<RecordSink> RecordSink::open(
    const std::string& path, std::uint32_t sampleRate, std::size_t ringFrames, std::string& problem)
{
    wave::WaveFileError why;
    auto writer = wave::createWaveWriter(
        path, wave::monoWaveFormat(wave::OutputDepth::Float32, sampleRate), {}, &why);
    if (!writer) {
        problem = wave::describe(why);
        return nullptr;
    }
    return std::unique_ptr<RecordSink>(new RecordSink(std::move(writer), ringFrames));
}

RecordSink::RecordSink(std::unique_ptr<wave::WaveWriter> file, std::size_t ringFrames)
    : writer(std::move(file))
    , samples(ringFrames)
    , thread([this] { drain(); })
{
}

bool RecordSink::finish()
{
    if (!thread.joinable())
        return finishedWell;
    ending.store(true, std::memory_order_release);
    thread.join();
    wave::WaveFileError why;
    const bool closed = wave::closeWave(std::move(writer), &why);
    finishedWell = closed && !writeFailed;
    if (!closed)
        cause = wave::describe(why);
    return finishedWell;
}

void RecordSink::drain()
{
    static_assert(std::endian::native == std::endian::little,
        "the record file's float samples are stored as they lie in memory");
    std::vector<float> block(4096);
    for (;;) {
        const bool last = ending.load(std::memory_order_acquire);
        const std::size_t count = samples.pop(block);
        if (count > 0) {
            if (!writeFailed
                && wave::writeWave(*writer, block.data(), count * sizeof(float))
                    != static_cast<std::int64_t>(count * sizeof(float)))
                writeFailed = true;
            else if (!writeFailed)
                written += count;
            continue;
        }
        if (last)
            return; // the pushes had stopped before ending was raised: all is saved
        std::this_thread::sleep_for(recordPollInterval);
    }
}

} // namespace lumivox::job
