#include "preview_stream.h"

#include <algorithm>
#include <cmath>
#include <portaudio.h>

namespace lumivox::job {

namespace {
    PaStream* asStream(void* stream) { return static_cast<PaStream*>(stream); }
}

PortAudioPreview::~PortAudioPreview() { close(); }

PreviewOpenResult PortAudioPreview::open(const PreviewFormat& wanted)
{
    close();
    format = wanted;
    padFrameCount = 0;
    const bool eightBit = format.bitsPerSample == 8;
    const bool floats = format.bitsPerSample == 32;
    // One buffer of the zero line, for the play-out pad at the end (all bits 0 is 0.0f too).
    const std::size_t bytesPerFrame = eightBit ? 1 : floats ? 4 : 2;
    silence.assign(format.framesPerBuffer * bytesPerFrame, eightBit ? 127 : 0);

    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice)
        return PreviewOpenResult::NoDevice;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (info == nullptr)
        return PreviewOpenResult::NoDeviceInfo;

    PaStreamParameters output {};
    output.device = device;
    output.channelCount = 1;
    output.sampleFormat = eightBit ? paUInt8 : floats ? paFloat32 : paInt16;
    output.suggestedLatency = info->defaultHighOutputLatency;
    output.hostApiSpecificStreamInfo = nullptr;

    PaStream* opened = nullptr;
    const PaError result = Pa_OpenStream(&opened, nullptr, &output, format.sampleRate,
        format.framesPerBuffer, paClipOff | paDitherOff, nullptr, nullptr);
    if (result != paNoError) {
        if (opened != nullptr)
            static_cast<void>(Pa_CloseStream(opened));
        return PreviewOpenResult::StreamNotOpened;
    }
    stream = opened;
    return PreviewOpenResult::Opened;
}

bool PortAudioPreview::start()
{
    if (stream == nullptr)
        return false;
    if (Pa_StartStream(asStream(stream)) != paNoError) {
        close();
        return false;
    }
    return true;
}

void PortAudioPreview::writeBlock(const void* samples, unsigned long frameCount)
{
    if (stream == nullptr || Pa_IsStreamActive(asStream(stream)) == 0)
        return;
    // Underflows and lost devices do not stop a preview.
    static_cast<void>(Pa_WriteStream(asStream(stream), samples, frameCount));
}

void PortAudioPreview::finish(bool abortStream)
{
    if (stream == nullptr)
        return;
    if (Pa_IsStreamActive(asStream(stream)) != 0) {
        if (abortStream) {
            static_cast<void>(Pa_AbortStream(asStream(stream)));
        } else {
            playOutWithSilence();
            static_cast<void>(Pa_StopStream(asStream(stream)));
        }
    }
    close();
}

// Pa_StopStream on ALSA drops the audio still queued instead of draining it. Writing silence for
// the output latency plus one buffer first pushes the last real block through to the device.
void PortAudioPreview::playOutWithSilence()
{
    const PaStreamInfo* info = Pa_GetStreamInfo(asStream(stream));
    const double latencySeconds = info != nullptr ? info->outputLatency : 0.0;
    const double latencyFrames = std::ceil(std::max(0.0, latencySeconds) * format.sampleRate);
    std::uint64_t framesLeft = static_cast<std::uint64_t>(latencyFrames) + format.framesPerBuffer;
    padFrameCount = framesLeft;
    while (framesLeft > 0 && !silence.empty()) {
        const auto frameCount = static_cast<unsigned long>(
            std::min<std::uint64_t>(framesLeft, format.framesPerBuffer));
        static_cast<void>(Pa_WriteStream(asStream(stream), silence.data(), frameCount));
        framesLeft -= frameCount;
    }
}

void PortAudioPreview::abort()
{
    if (stream != nullptr)
        static_cast<void>(Pa_AbortStream(asStream(stream)));
}

double PortAudioPreview::outputLatencySeconds() const
{
    if (stream == nullptr)
        return 0.0;
    const PaStreamInfo* info = Pa_GetStreamInfo(asStream(stream));
    return info != nullptr ? std::max(0.0, info->outputLatency) : 0.0;
}

void PortAudioPreview::close()
{
    if (stream == nullptr)
        return;
    static_cast<void>(Pa_CloseStream(asStream(stream)));
    stream = nullptr;
}

} // namespace lumivox::job
