#include "live_run.h"

#include "carrier_supply.h"
#include "jack_live_audio.h"
#include "portaudio_live_audio.h"
#include "same_file.h"
#include "wave/resampler.h"
#include "wave/sample_stores.h"
#include "wave/sound_file.h"
#include "wave/wave_file.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace lumivox::job {

namespace {

    using namespace std::chrono_literals;

    // How often the waiting threads look at their flags.
    constexpr auto pollInterval = 20ms;
    // What the record ring holds: far more than the writer ever falls behind.
    constexpr double recordRingSeconds = 8.0;

    // Saves what the ring brings to the record file on a thread of its own, so that the audio
    // callback never touches a file.
    class RecordWriter {
    public:
        RecordWriter(std::unique_ptr<wave::WaveWriter> file, RecordRing& recordRing)
            : writer(std::move(file))
            , ring(recordRing)
            , thread([this] { drain(); })
        {
        }
        RecordWriter(const RecordWriter&) = delete;
        RecordWriter& operator=(const RecordWriter&) = delete;
        ~RecordWriter() { static_cast<void>(finish()); }

        // Saves what is left and closes the file; false when any write or the close failed.
        [[nodiscard]] bool finish()
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

        [[nodiscard]] std::uint64_t framesWritten() const { return written; }
        [[nodiscard]] const std::string& failureCause() const { return cause; }

    private:
        void drain()
        {
            static_assert(std::endian::native == std::endian::little,
                "the record file's float samples are stored as they lie in memory");
            std::vector<float> block(4096);
            for (;;) {
                const bool last = ending.load(std::memory_order_acquire);
                const std::size_t count = ring.pop(block);
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
                    return; // the callbacks had stopped before ending was raised: all is saved
                std::this_thread::sleep_for(pollInterval);
            }
        }

        std::unique_ptr<wave::WaveWriter> writer;
        RecordRing& ring;
        std::atomic<bool> ending { false };
        bool writeFailed = false;
        bool finishedWell = false;
        std::uint64_t written = 0;
        std::string cause;
        std::thread thread; // last, so that it starts once the rest is ready
    };

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

std::optional<std::vector<double>> loadLiveCarrier(
    const std::string& path, std::uint32_t sampleRate, std::string& problem)
{
    constexpr std::size_t blockFrames = 4096;
    wave::SoundFileRefusal refusal = wave::SoundFileRefusal::None;
    std::string cause;
    auto reader = wave::openSoundFile(path, blockFrames, &refusal, &cause);
    if (!reader) {
        problem = "the carrier '" + path + "' could not be opened: " + cause;
        return std::nullopt;
    }
    // 8-bit files come in 8-bit units; the engine takes every carrier in 16-bit ones here.
    const double scale = 32768.0 / reader->unitsPerFullScale();
    std::vector<double> samples;
    samples.reserve(
        static_cast<std::size_t>(std::max<std::int64_t>(reader->format().frameCount, 0)));
    std::vector<double> block(blockFrames);
    for (;;) {
        const std::int64_t frames = wave::readMonoFrames(*reader, block);
        if (frames < 0) {
            problem = "the carrier '" + path + "' could not be read: " + reader->failureCause();
            return std::nullopt;
        }
        if (frames == 0)
            break;
        for (std::int64_t i = 0; i < frames; ++i)
            samples.push_back(block[static_cast<std::size_t>(i)] * scale);
    }
    const std::uint32_t fileRate = reader->format().sampleRate;
    if (fileRate == sampleRate || samples.empty())
        return samples;

    std::size_t next = 0;
    auto resampler = wave::Resampler::create(
        fileRate, sampleRate, blockFrames,
        [&samples, &next](std::span<double> destination) {
            const std::size_t count = std::min(destination.size(), samples.size() - next);
            std::copy_n(
                samples.begin() + static_cast<std::ptrdiff_t>(next), count, destination.begin());
            next += count;
            return static_cast<std::int64_t>(count);
        },
        &cause);
    if (!resampler) {
        problem = "the carrier '" + path + "' could not be resampled: " + cause;
        return std::nullopt;
    }
    std::vector<double> resampled;
    resampled.reserve(static_cast<std::size_t>(
        static_cast<double>(samples.size()) * sampleRate / fileRate + blockFrames));
    for (;;) {
        const std::int64_t frames = resampler->read(block);
        if (frames < 0) {
            problem
                = "the carrier '" + path + "' could not be resampled: " + resampler->failureCause();
            return std::nullopt;
        }
        if (frames == 0)
            break;
        resampled.insert(resampled.end(), block.begin(), block.begin() + frames);
    }
    return resampled;
}

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

    std::unique_ptr<RecordRing> ring;
    std::unique_ptr<RecordWriter> recorder;
    if (!settings.recordPath.empty()) {
        wave::WaveFileError why;
        auto writer = wave::createWaveWriter(
            settings.recordPath, wave::monoWaveFormat(wave::OutputDepth::Float32, rate), {}, &why);
        if (!writer)
            return failed("the record file '" + settings.recordPath
                + "' could not be made: " + wave::describe(why));
        ring = std::make_unique<RecordRing>(static_cast<std::size_t>(recordRingSeconds * rate));
        recorder = std::make_unique<RecordWriter>(std::move(writer), *ring);
    }

    LiveSession session(std::move(carrier), settings.sound,
        std::max<std::size_t>(audio->periodFrames(), 1024), ring.get(), *bands);
    LiveStart start;
    start.audio = audio->describe();
    start.sampleRate = rate;
    start.periodFrames = audio->periodFrames();
    start.lowDelay = bandDelayAt(session.bandFilters(), rate, 300.0);
    start.highDelay = bandDelayAt(session.bandFilters(), rate, 1000.0);

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
