#include "live_run.h"

#include "carrier_supply.h"
#include "jack_live_audio.h"
#include "portaudio_live_audio.h"
#include "run_sinks.h"
#include "run_sources.h"
#include "same_file.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace lumivox::job {

namespace {

    using namespace std::chrono_literals;

    // How often the waiting threads look at their flags.
    constexpr auto pollInterval = 20ms;
    // What the record ring holds: far more than the writer ever falls behind.
    constexpr double recordRingSeconds = 8.0;

    LiveEnding failed(std::string message)
    {
        return { LiveOutcome::Failed, std::move(message), 0 };
    }

    // Sleeps until stop is raised or the time has passed; true when stop was raised.
    bool waitForStop(const std::atomic<bool>& stop, std::chrono::steady_clock::time_point until)
    {
        while (!stop.load(std::memory_order_acquire)) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= until)
                return false;
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(pollInterval, until - now));
        }
        return true;
    }

} // namespace

std::unique_ptr<LiveAudio> openLiveAudio(const LiveSettings& settings, std::string& problem)
{
    JackLiveOptions options;
    options.carrierPort = settings.carrierFromPort;
    options.connect = settings.connect;
    std::string jackProblem;
    bool serverRunning = false;
    if (auto jack = openJackLiveAudio(options, jackProblem, serverRunning))
        return jack;
    // A server that is there holds the sound card: the devices are not tried behind its back.
    if (serverRunning) {
        problem = jackProblem;
        return nullptr;
    }
    if (settings.carrierFromPort) {
        problem = "the carrier 'jack' needs a JACK server, and " + jackProblem;
        return nullptr;
    }
    return openPortAudioLiveAudio(problem);
}

LiveEnding runLive(const LiveSettings& settings, const std::atomic<bool>& stop, LiveEvents& events,
    const OpenLiveAudio& openAudio)
{
    std::string problem;
    if (!settings.recordPath.empty() && !settings.carrierFromPort
        && settings.carrier.kind == CarrierKind::File
        && namesSameFile(settings.recordPath, settings.carrierPath))
        return failed("the record file '" + settings.recordPath + "' is the carrier");

    std::unique_ptr<LiveAudio> audio
        = openAudio ? openAudio(problem) : openLiveAudio(settings, problem);
    if (!audio)
        return failed(problem);
    const std::uint32_t rate = audio->sampleRate();

    // The bands are designed at the audio system's rate before anything is made.
    const auto bands = engine::designBands(settings.bands, rate);
    if (!bands)
        return failed("the band range does not fit the audio system's rate: at "
            + std::to_string(rate) + " Hz the bands may reach "
            + std::to_string(std::lround(engine::highestBandHz(rate))) + " Hz at most");

    std::unique_ptr<LiveCarrier> carrier;
    if (settings.carrierFromPort) {
        carrier = makePortCarrier();
    } else if (settings.carrier.kind != CarrierKind::File) {
        carrier = makeSoundCarrier(settings.carrier, rate);
    } else {
        auto samples = loadLiveCarrier(settings.carrierPath, rate, problem);
        if (!samples)
            return failed(problem);
        carrier = makeLoopedCarrier(std::move(*samples), seamFadeFrames(rate));
    }

    std::unique_ptr<RecordSink> recorder;
    if (!settings.recordPath.empty()) {
        recorder = RecordSink::open(
            settings.recordPath, rate, static_cast<std::size_t>(recordRingSeconds * rate), problem);
        if (!recorder)
            return failed(
                "the record file '" + settings.recordPath + "' could not be made: " + problem);
    }
    RecordRing* ring = recorder ? &recorder->ring() : nullptr;

    LiveSession session(std::move(carrier), settings.sound,
        std::max<std::size_t>(audio->periodFrames(), 1024), ring, *bands);
    LiveStart start;
    start.audio = audio->describe();
    start.sampleRate = rate;
    start.periodFrames = audio->periodFrames();
    // With Clarity on, a designed layout's bands above 300 Hz wait for the one there.
    const std::span<const int> heldBack
        = settings.sound.clarity > 0 ? session.bandsHeldBackByClarity() : std::span<const int> {};
    start.lowDelay = bandDelayAt(session.bandFilters(), rate, 300.0, heldBack);
    start.highDelay = bandDelayAt(session.bandFilters(), rate, 1000.0, heldBack);

    if (settings.bandLevels != nullptr)
        session.publishBandLevels(settings.bandLevels, rate);
    events.sessionReady(session);

    LiveEnding ending;
    if (!audio->start(session, problem)) {
        ending = failed(problem);
    } else {
        events.started(start);
        auto nextStatus = std::chrono::steady_clock::now() + 1s;
        std::string lostWhy;
        for (;;) {
            const bool stopped
                = waitForStop(stop, std::min(nextStatus, std::chrono::steady_clock::now() + 100ms));
            if (audio->lost(lostWhy)) {
                ending.outcome = LiveOutcome::DeviceLost;
                ending.message = lostWhy;
                break;
            }
            if (stopped)
                break;
            if (std::chrono::steady_clock::now() >= nextStatus) {
                nextStatus += 1s;
                LiveStatus status;
                status.meters = session.takeMeters();
                status.missedCycles = audio->missedCycles();
                status.framesPlayed = session.framesPlayed();
                status.recordFramesLost = ring ? ring->lostFrames() : 0;
                events.status(status);
            }
        }
    }
    audio->stop();
    events.sessionEnding();
    if (recorder) {
        if (!recorder->finish() && ending.message.empty()) {
            ending.outcome = LiveOutcome::Failed;
            ending.message = "the record file '" + settings.recordPath
                + "' could not be written: " + recorder->failureCause();
        } else if (ring->lostFrames() > 0 && ending.message.empty()) {
            ending.outcome = LiveOutcome::Failed;
            ending.message = "the record file '" + settings.recordPath + "' misses "
                + std::to_string(ring->lostFrames())
                + " frames that were played: it was not written fast enough";
        }
        ending.framesRecorded = recorder->framesWritten();
    }
    return ending;
}

} // namespace lumivox::job
