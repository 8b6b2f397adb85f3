#include "jack_live_audio.h"

#include "live_session.h"

#include <atomic>
#include <chrono>
#include <jack/jack.h>
#include <mutex>
#include <span>
#include <thread>

namespace lumivox::job {

namespace {

    class JackLiveAudio final : public LiveAudio {
    public:
        JackLiveAudio(jack_client_t* jackClient, const JackLiveOptions& options)
            : client(jackClient)
            , connect(options.connect)
        {
            voicePort
                = jack_port_register(client, "voice", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
            outPort
                = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
            if (options.carrierPort)
                carrierPort = jack_port_register(
                    client, "carrier", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
            portsMade = voicePort != nullptr && outPort != nullptr
                && (!options.carrierPort || carrierPort != nullptr);
        }

        ~JackLiveAudio() override
        {
            stop();
            jack_client_close(client);
        }

        [[nodiscard]] bool portsRegistered() const { return portsMade; }

        std::uint32_t sampleRate() const override { return jack_get_sample_rate(client); }
        std::uint32_t periodFrames() const override { return jack_get_buffer_size(client); }
        std::string describe() const override
        {
            return std::string("JACK client '") + jack_get_client_name(client) + "' at "
                + std::to_string(sampleRate()) + " Hz, " + std::to_string(periodFrames())
                + " frames a period";
        }

        bool start(LiveSession& liveSession, std::string& problem) override
        {
            session = &liveSession;
            jack_set_process_callback(client, &JackLiveAudio::onProcess, this);
            jack_set_xrun_callback(client, &JackLiveAudio::onXrun, this);
            jack_on_info_shutdown(client, &JackLiveAudio::onShutdown, this);
            if (jack_activate(client) != 0) {
                problem = "the JACK server would not start the client";
                return false;
            }
            active = true;
            if (connect)
                connectPhysicalPorts();
            return true;
        }

        void stop() override
        {
            if (!active)
                return;
            active = false;
            // After a shutdown the server is gone and deactivating would only complain.
            if (!serverGone.load(std::memory_order_acquire))
                jack_deactivate(client);
        }

        std::uint64_t missedCycles() const override
        {
            return xruns.load(std::memory_order_relaxed);
        }

        bool lost(std::string& why) const override
        {
            if (!serverGone.load(std::memory_order_acquire))
                return false;
            const std::lock_guard lock(reasonMutex);
            why = "the JACK server stopped"
                + (reason.empty() ? std::string() : " (" + reason + ")");
            return true;
        }

    private:
        static int onProcess(jack_nframes_t frameCount, void* self)
        {
            auto& audio = *static_cast<JackLiveAudio*>(self);
            const auto buffer = [frameCount](jack_port_t* port) {
                return static_cast<float*>(jack_port_get_buffer(port, frameCount));
            };
            const std::span<const float> voice(buffer(audio.voicePort), frameCount);
            const std::span<float> out(buffer(audio.outPort), frameCount);
            std::span<const float> carrier;
            if (audio.carrierPort != nullptr)
                carrier = std::span<const float>(buffer(audio.carrierPort), frameCount);
            audio.session->process(voice, carrier, out);
            return 0;
        }

        static int onXrun(void* self)
        {
            auto& audio = *static_cast<JackLiveAudio*>(self);
            audio.xruns.fetch_add(1, std::memory_order_relaxed);
            return 0;
        }

        // Called on a thread of libjack's when the server goes away; no JACK call may follow.
        static void onShutdown(jack_status_t, const char* why, void* self)
        {
            auto& audio = *static_cast<JackLiveAudio*>(self);
            {
                const std::lock_guard lock(audio.reasonMutex);
                audio.reason = why != nullptr ? why : "";
            }
            audio.serverGone.store(true, std::memory_order_release);
        }

        void connectPhysicalPorts()
        {
            // The voice from the first microphone; the output to every loudspeaker.
            if (const char** captures = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                    JackPortIsPhysical | JackPortIsOutput)) {
                if (captures[0] != nullptr)
                    static_cast<void>(jack_connect(client, captures[0], jack_port_name(voicePort)));
                jack_free(static_cast<void*>(captures));
            }
            if (const char** playbacks = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                    JackPortIsPhysical | JackPortIsInput)) {
                for (const char** port = playbacks; *port != nullptr; ++port)
                    static_cast<void>(jack_connect(client, jack_port_name(outPort), *port));
                jack_free(static_cast<void*>(playbacks));
            }
        }

        jack_client_t* client;
        bool connect;
        jack_port_t* voicePort = nullptr;
        jack_port_t* outPort = nullptr;
        jack_port_t* carrierPort = nullptr;
        bool portsMade = false;
        bool active = false;
        LiveSession* session = nullptr;
        std::atomic<std::uint64_t> xruns { 0 };
        std::atomic<bool> serverGone { false };
        mutable std::mutex reasonMutex; // never taken by the process callback
        std::string reason;
    };

} // namespace

std::unique_ptr<LiveAudio> openJackLiveAudio(
    const JackLiveOptions& options, std::string& problem, bool& serverRunning)
{
    serverRunning = false;
    // libjack prints its own lines for what this reports in one; the user needs only ours.
    jack_set_error_function(+[](const char*) {});
    jack_set_info_function(+[](const char*) {});
    // A running server that fails to take a client (it is busy starting, or with another
    // client's arrival) is asked again for up to two seconds before giving up on it.
    jack_status_t status {};
    jack_client_t* client = nullptr;
    for (int attempt = 0; attempt < 20; ++attempt) {
        status = {};
        client = jack_client_open(options.clientName.c_str(), JackNoStartServer, &status);
        if (client != nullptr || (status & JackServerFailed) != 0
            || (status & JackServerError) == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (client == nullptr) {
        if ((status & JackServerFailed) != 0) {
            problem = "no JACK server is running";
        } else if ((status & JackServerError) != 0) {
            serverRunning = true;
            problem = "the JACK server is running but did not take the client";
        } else {
            serverRunning = true;
            problem = "the JACK client could not be made";
        }
        return nullptr;
    }
    serverRunning = true;
    auto audio = std::make_unique<JackLiveAudio>(client, options);
    if (!audio->portsRegistered()) {
        problem = "the JACK ports could not be made";
        return nullptr;
    }
    return audio;
}

} // namespace lumivox::job
