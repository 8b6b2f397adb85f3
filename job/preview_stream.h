#pragma once

#include <cstdint>
#include <vector>

namespace lumivox::job {

// What a preview stream is opened with: one channel at the carrier's rate and depth.
struct PreviewFormat {
    double sampleRate = 44100.0;
    int bitsPerSample = 16; // 8 plays unsigned bytes, 32 native floats, anything else 16-bit signed
    unsigned long framesPerBuffer = 2048;
};

enum class PreviewOpenResult { Opened, NoDevice, NoDeviceInfo, StreamNotOpened };

// Where a preview's blocks are played. The job's only way to the audio output, so tests can put
// a fake in its place.
class PreviewSink {
public:
    virtual ~PreviewSink() = default;

    virtual PreviewOpenResult open(const PreviewFormat& format) = 0;
    // False when the stream did not start; the stream is then closed.
    virtual bool start() = 0;
    // Blocks until the device has room; a stream that is no longer active drops the block.
    virtual void writeBlock(const void* samples, unsigned long frameCount) = 0;
    // Ends the stream and closes it: at once when aborting, else after what was written is heard.
    virtual void finish(bool abort) = 0;
    // The close-request path: silences the stream at once; close() follows later.
    virtual void abort() = 0;
    virtual void close() = 0;
    // How long a frame written now takes to be heard. A blocking write returns once its block is
    // queued at the back of the device's buffer, so this also covers the audio queued before it.
    [[nodiscard]] virtual double outputLatencySeconds() const = 0;
};

// The default output device through PortAudio in blocking mode (the library must be started,
// see audio_library.h). Closes a stream still open when destroyed.
class PortAudioPreview final : public PreviewSink {
public:
    PortAudioPreview() = default;
    ~PortAudioPreview() override;
    PortAudioPreview(const PortAudioPreview&) = delete;
    PortAudioPreview& operator=(const PortAudioPreview&) = delete;

    PreviewOpenResult open(const PreviewFormat& format) override;
    bool start() override;
    void writeBlock(const void* samples, unsigned long frameCount) override;
    void finish(bool abort) override;
    void abort() override;
    void close() override;
    [[nodiscard]] double outputLatencySeconds() const override;

    // The silence written before the last stop, in frames (0 when the stream was aborted).
    [[nodiscard]] std::uint64_t lastPadFrameCount() const { return padFrameCount; }

private:
    void playOutWithSilence();

    void* stream = nullptr; // PaStream*, kept opaque so only the .cpp sees PortAudio
    PreviewFormat format;
    std::vector<std::uint8_t> silence; // one buffer of the zero line, taken at open
    std::uint64_t padFrameCount = 0;
};

} // namespace lumivox::job
