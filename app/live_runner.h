#pragma once

#include "job/live_run.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace lumivox::app {

// A live run on a thread of its own for the window: it says what happens through callbacks run on
// the window's thread (queued, so the run never waits for the window), takes slider moves while it
// plays, and is stopped (and waited for, briefly) when asked or when it is destroyed.
class LiveRunner {
public:
    struct Callbacks {
        std::function<void(const job::LiveStart&)> started;
        std::function<void(const job::LiveStatus&)> status;
        std::function<void(const job::LiveEnding&)> ended; // after the run has let everything go
    };

    // receiver is the object whose thread runs the callbacks (the window); openAudio as runLive
    // takes it (empty: JACK, else PortAudio).
    LiveRunner(QObject* receiver, Callbacks callbacks, job::OpenLiveAudio openAudio = {});
    ~LiveRunner();
    LiveRunner(const LiveRunner&) = delete;
    LiveRunner& operator=(const LiveRunner&) = delete;

    // Starts a run; false when one is still going.
    bool start(const job::LiveSettings& settings);
    // Asks the run to end; ended() follows.
    void stop() { stopRequested = true; }
    [[nodiscard]] bool running() const { return active; }
    // The sliders as they stand now, heard from the next period.
    void setSound(const job::SoundSettings& sound);

private:
    class Events;
    void finishThread();

    QObject* target; // outlives the runner
    Callbacks calls;
    job::OpenLiveAudio opener;
    std::atomic<bool> stopRequested { false };
    bool active = false; // the window's thread only
    std::mutex sessionMutex; // never taken by the audio thread
    job::LiveSession* session = nullptr;
    std::thread thread;
};

} // namespace lumivox::app
