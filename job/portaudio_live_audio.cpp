#include "portaudio_live_audio.h"

#include "audio_library.h"
#include "live_session.h"

#include <atomic>
#include <portaudio.h>
#include <span>

namespace lumivox::job {

namespace {

    // PortAudio started for as long as it lives; it is started only when no JACK server runs, so
    // that its own JACK host API does not join a server the run is not using.
    struct AudioLibraryHold {
        AudioLibraryHold() { startAudioLibrary(); }
        ~AudioLibraryHold() { endAudioLibrary(); }
        AudioLibraryHold(const AudioLibraryHold&) = delete;
        AudioLibraryHold& operator=(const AudioLibraryHold&) = delete;
    };

    class PortAudioLiveAudio final : public LiveAudio {
    public:
        PortAudioLiveAudio(std::unique_ptr<AudioLibraryHold> hold, double streamRate,
            std::string inputName, std::string outputName)
            : library(std::move(hold))
            , rate(streamRate)
            , names(std::move(inputName) + " in, " + std::move(outputName) + " out")
        {
        }

        ~PortAudioLiveAudio() override
        {
            stop();
            if (stream != nullptr)
                static_cast<void>(Pa_CloseStream(stream));
            // The library ends after the stream is closed: library is released last.
        }

        // Opens the stream; false with the reason.
        bool open(
            const PaStreamParameters& input, const PaStreamParameters& output, std::string& problem)
        {
            const PaError opened = Pa_OpenStream(&stream, &input, &output, rate,
                portAudioLivePeriod, paClipOff | paDitherOff, &PortAudioLiveAudio::onProcess, this);
            if (opened != paNoError) {
                stream = nullptr;
                problem = std::string("the audio devices could not be opened together (")
                    + Pa_GetErrorText(opened) + ")";
                return false;
            }
            static_cast<void>(
                Pa_SetStreamFinishedCallback(stream, &PortAudioLiveAudio::onFinished));
            return true;
        }

        std::uint32_t sampleRate() const override { return static_cast<std::uint32_t>(rate); }
        std::uint32_t periodFrames() const override { return portAudioLivePeriod; }
        std::string describe() const override
        {
            return "PortAudio, " + names + ", at " + std::to_string(sampleRate()) + " Hz, "
                + std::to_string(periodFrames()) + " frames a period";
        }

        bool start(LiveSession& liveSession, std::string& problem) override
        {
            session = &liveSession;
            const PaError started = Pa_StartStream(stream);
            if (started != paNoError) {
                problem = std::string("the audio stream did not start (") + Pa_GetErrorText(started)
                    + ")";
                return false;
            }
            running.store(true, std::memory_order_release);
            return true;
        }

        void stop() override
        {
            if (!running.exchange(false, std::memory_order_acq_rel))
                return;
            stopping.store(true, std::memory_order_release);
            static_cast<void>(Pa_AbortStream(stream));
        }

        std::uint64_t missedCycles() const override
        {
            return missed.load(std::memory_order_relaxed);
        }

        bool lost(std::string& why) const override
        {
            if (!finished.load(std::memory_order_acquire)
                || stopping.load(std::memory_order_acquire))
                return false;
            why = "the audio device stopped";
            return true;
        }

        std::unique_ptr<AudioLibraryHold> library; // released last

    private:
        static int onProcess(const void* input, void* output, unsigned long frameCount,
            const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags flags, void* self)
        {
            auto& audio = *static_cast<PortAudioLiveAudio*>(self);
            if ((flags & (paInputOverflow | paOutputUnderflow)) != 0)
                audio.missed.fetch_add(1, std::memory_order_relaxed);
            const std::span<float> out(static_cast<float*>(output), frameCount);
            if (input == nullptr) {
                // No input this period (an overflow): silence in, so the run keeps its time.
                std::fill(out.begin(), out.end(), 0.0F);
                audio.session->process(out, {}, out);
            } else {
                audio.session->process(
                    std::span<const float>(static_cast<const float*>(input), frameCount), {}, out);
            }
            return paContinue;
        }

        static void onFinished(void* self)
        {
            static_cast<PortAudioLiveAudio*>(self)->finished.store(true, std::memory_order_release);
        }

        double rate;
        std::string names;
        PaStream* stream = nullptr;
        LiveSession* session = nullptr;
        std::atomic<bool> running { false };
        std::atomic<bool> stopping { false };
        std::atomic<bool> finished { false };
        std::atomic<std::uint64_t> missed { 0 };
    };

} // namespace

std::unique_ptr<LiveAudio> openPortAudioLiveAudio(std::string& problem)
{
    auto library = std::make_unique<AudioLibraryHold>();
    const PaDeviceIndex inputDevice = Pa_GetDefaultInputDevice();
    const PaDeviceIndex outputDevice = Pa_GetDefaultOutputDevice();
    if (inputDevice == paNoDevice && outputDevice == paNoDevice) {
        problem = "no JACK server is running and there is no audio input or output device";
        return nullptr;
    }
    if (inputDevice == paNoDevice) {
        problem = "no JACK server is running and there is no audio input device";
        return nullptr;
    }
    if (outputDevice == paNoDevice) {
        problem = "no JACK server is running and there is no audio output device";
        return nullptr;
    }
    const PaDeviceInfo* inputInfo = Pa_GetDeviceInfo(inputDevice);
    const PaDeviceInfo* outputInfo = Pa_GetDeviceInfo(outputDevice);
    if (inputInfo == nullptr || outputInfo == nullptr) {
        problem = "the default audio devices could not be described";
        return nullptr;
    }
    PaStreamParameters input {};
    input.device = inputDevice;
    input.channelCount = 1;
    input.sampleFormat = paFloat32;
    input.suggestedLatency = inputInfo->defaultLowInputLatency;
    PaStreamParameters output {};
    output.device = outputDevice;
    output.channelCount = 1;
    output.sampleFormat = paFloat32;
    output.suggestedLatency = outputInfo->defaultLowOutputLatency;

    auto audio = std::make_unique<PortAudioLiveAudio>(
        std::move(library), outputInfo->defaultSampleRate, inputInfo->name, outputInfo->name);
    if (!audio->open(input, output, problem))
        return nullptr;
    return audio;
}

} // namespace lumivox::job
