#pragma once

#include "output_encoder.h"
#include "output_file.h"
#include "preview_stream.h"
#include "record_ring.h"
#include "run_sources.h"
#include "wave/wave_file.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>

namespace lumivox::job {

// Where a Vocode's or a Preview's blocks go: the output file, or the preview stream, which takes
// each block when the device has room for it. Destroyed while still open (only when finishing
// itself failed), it closes the file or aborts the stream.
class RunSink {
public:
    RunSink() = default;
    ~RunSink() { static_cast<void>(finish(true)); }
    RunSink(const RunSink&) = delete;
    RunSink& operator=(const RunSink&) = delete;

    // The buffer a block is encoded into for the stream (blockBufferBytes).
    void holdBuffer(std::unique_ptr<std::uint8_t[]> buffer) { outputBlock = std::move(buffer); }

    // Opens the output file of the plan; it must be neither input (creating it empties it). What
    // the file's format made of the rate is added to conversion.
    [[nodiscard]] std::optional<RunFailure> openFile(const OutputPlan& plan,
        const std::string& carrierPath, const std::string& modulatorPath, std::string& conversion);
    // Opens the stream for one channel of the output's format, a block a buffer; 24-bit results
    // are played as 32-bit float.
    [[nodiscard]] std::optional<RunFailure> openPreview(PreviewSink& stream,
        const wave::WaveFormat& format, wave::OutputDepth depth, int blockFrames);
    // Starts the stream; false when it would not start (it has then closed itself).
    [[nodiscard]] bool start();

    // Stores or plays a block of results made with this Output Gain; false when the file could
    // not be written (failureCause()).
    [[nodiscard]] bool write(std::span<const double> results, double gain);
    // How long a block written now takes to be heard (0 for a file).
    [[nodiscard]] double latencySeconds() const;

    // Closes the file (writing its final header), or ends the stream: played out, or at once
    // when aborting. False when the file could not be finished completely (failureCause()).
    [[nodiscard]] bool finish(bool abort);
    // The program is ending: the stream falls silent at once, then closes.
    void abortAndClose();

    [[nodiscard]] const OutputFile* file() const { return writer.get(); }
    [[nodiscard]] std::string failureCause() const { return writer ? writer->failureCause() : ""; }
    // The samples as stored or played so far: clamps, peak and the gain that would not have
    // clipped; null before anything was opened.
    [[nodiscard]] const OutputEncoder* encoder() const;

private:
    std::unique_ptr<std::uint8_t[]> outputBlock;
    std::unique_ptr<OutputFile> writer;
    PreviewSink* preview = nullptr;
    std::optional<OutputEncoder> previewEncoder;
};

// The record file of a live run: what the audio callback pushes into the ring is saved by a thread
// of its own as 32-bit float samples, so that the callback never touches a file.
class RecordSink {
public:
    // A ring of ringFrames; null with the wave writer's reason in problem when the file cannot be
    // made. May throw std::bad_alloc.
    [[nodiscard]] static std::unique_ptr<RecordSink> open(const std::string& path,
        std::uint32_t sampleRate, std::size_t ringFrames, std::string& problem);
    RecordSink(const RecordSink&) = delete;
    RecordSink& operator=(const RecordSink&) = delete;
    ~RecordSink() { static_cast<void>(finish()); }

    // Where the audio thread pushes what it plays.
    [[nodiscard]] RecordRing& ring() { return samples; }
    // Once nothing pushes any more: saves what is left and closes the file; false when any write
    // or the close failed.
    [[nodiscard]] bool finish();

    [[nodiscard]] std::uint64_t framesWritten() const { return written; }
    [[nodiscard]] const std::string& failureCause() const { return cause; }

private:
    RecordSink(std::unique_ptr<wave::WaveWriter> file, std::size_t ringFrames);
    void drain();

    std::unique_ptr<wave::WaveWriter> writer;
    RecordRing samples;
    std::atomic<bool> ending { false };
    bool writeFailed = false;
    bool finishedWell = false;
    std::uint64_t written = 0;
    std::string cause;
    std::thread thread; // last, so that it starts once the rest is ready
};

} // namespace lumivox::job
