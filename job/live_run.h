#pragma once

#include "band_delay.h"
#include "job_settings.h"
#include "live_audio.h"
#include "live_session.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumivox::job {

// What a live run plays and with what.
struct LiveSettings {
    // A built-in sound, or (kind File) the carrier file at carrierPath, looped.
    CarrierChoice carrier;
    std::string carrierPath;
    bool carrierFromPort = false; // the carrier arrives on JACK's `carrier` port
    std::string recordPath; // empty: nothing is recorded
    bool connect = true; // to the physical capture and playback ports
    SoundSettings sound;
    BandLevelFeed* bandLevels = nullptr; // when given, the levels of every period go there
    engine::LayoutChoice bands; // designed at the audio system's rate when the run starts
};

// Said once, when the run has started.
struct LiveStart {
    std::string audio; // what plays, as LiveAudio::describe() has it
    std::uint32_t sampleRate = 0;
    std::uint32_t periodFrames = 0;
    BandDelay lowDelay; // the bands' delay at 300 Hz
    BandDelay highDelay; // and at 1 kHz
};

// Said about once a second while it runs.
struct LiveStatus {
    LiveMeters meters; // since the previous status
    std::uint64_t missedCycles = 0; // since the start
    std::uint64_t framesPlayed = 0;
    std::uint64_t recordFramesLost = 0; // refused by a full record ring
};

class LiveEvents {
public:
    virtual ~LiveEvents() = default;
    virtual void started(const LiveStart& start) = 0;
    virtual void status(const LiveStatus& status) = 0;
    // The session, before the audio starts, for a front end whose sliders act while it plays
    // (LiveSession::setSound from any thread); it is gone once sessionEnding() has been called.
    virtual void sessionReady(LiveSession& session) { static_cast<void>(session); }
    virtual void sessionEnding() { }
};

enum class LiveOutcome {
    Stopped, // the stop flag ended it; the recording is complete
    Failed, // it could not start, or the recording could not be written
    DeviceLost, // the server or device went away; the recording keeps what was played
};

struct LiveEnding {
    LiveOutcome outcome = LiveOutcome::Stopped;
    std::string message; // what happened, in plain words; empty when all went well
    std::uint64_t framesRecorded = 0;
};

// Opens the audio a run plays through, or gives null with the reason.
using OpenLiveAudio = std::function<std::unique_ptr<LiveAudio>(std::string& problem)>;

// A JACK client when a JACK server runs, PortAudio's default devices when none does (a carrier
// from the port needs JACK).
[[nodiscard]] std::unique_ptr<LiveAudio> openLiveAudio(
    const LiveSettings& settings, std::string& problem);

// Vocodes live until stop is raised or the audio goes away. The record file, when asked for, is
// finished and valid on every way out once it was made. openAudio defaults to openLiveAudio.
[[nodiscard]] LiveEnding runLive(const LiveSettings& settings, const std::atomic<bool>& stop,
    LiveEvents& events, const OpenLiveAudio& openAudio = {});

} // namespace lumivox::job
