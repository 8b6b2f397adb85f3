#pragma once

#include <cstdint>
#include <string>

namespace lumivox::job {

class LiveSession;

// The audio system a live run plays through: it takes the voice (and a carrier port, when asked
// for) and plays the output, calling LiveSession::process from its own real-time thread once a
// period. JACK and PortAudio serve it; tests put a fake in its place.
class LiveAudio {
public:
    virtual ~LiveAudio() = default;

    [[nodiscard]] virtual std::uint32_t sampleRate() const = 0;
    // The frames of one period (the callback may bring fewer, or more after the server changed it).
    [[nodiscard]] virtual std::uint32_t periodFrames() const = 0;
    // What plays, for the user: "JACK client 'lumivox' at 48000 Hz, 128 frames a period".
    [[nodiscard]] virtual std::string describe() const = 0;

    // Starts calling session.process (the session must outlive stop()); false with the reason.
    [[nodiscard]] virtual bool start(LiveSession& session, std::string& problem) = 0;
    // Stops the calls; once it returns none is running or will come. Safe to call twice.
    virtual void stop() = 0;

    // Periods the audio system says were missed or late since start.
    [[nodiscard]] virtual std::uint64_t missedCycles() const = 0;
    // Whether the server or device went away during the run; why, in plain words.
    [[nodiscard]] virtual bool lost(std::string& why) const = 0;
};

} // namespace lumivox::job
