#include "fake_live_audio.h"
#include "job_test_files.h"
#include "live_run.h"
#include "live_session.h"
#include "run_sources.h"
#include "sndfile_io.h"
#include "test_wave_bytes.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <numbers>
#include <thread>

namespace lumivox::job {
namespace {

    using namespace std::chrono_literals;

    using test::FakePlayback;
    using FakeAudio = test::FakeLiveAudio;

    class Events final : public LiveEvents {
    public:
        void started(const LiveStart& begun) override
        {
            const std::lock_guard lock(mutex);
            start = begun;
            startCount++;
        }
        void status(const LiveStatus& now) override
        {
            const std::lock_guard lock(mutex);
            statuses.push_back(now);
            changed.notify_all();
        }
        bool awaitStatus()
        {
            std::unique_lock lock(mutex);
            return changed.wait_for(lock, 10s, [this] { return !statuses.empty(); });
        }

        std::mutex mutex;
        std::condition_variable changed;
        LiveStart start;
        int startCount = 0;
        std::vector<LiveStatus> statuses;
    };

    class LiveRunTest : public ::testing::Test {
    protected:
        LiveSettings noiseSettings()
        {
            LiveSettings settings;
            settings.carrier.kind = CarrierKind::Noise;
            settings.recordPath = (folder / "record.wav").string();
            return settings;
        }

        // Opens the fake audio system, playing that many periods into playback.
        std::function<std::unique_ptr<LiveAudio>(std::string&)> fake(
            std::size_t periods, bool loseDevice)
        {
            return [this, periods, loseDevice](std::string&) {
                return std::make_unique<FakeAudio>(playback, periods, loseDevice);
            };
        }

        test::TemporaryFolder folder;
        FakePlayback playback;
        std::atomic<bool> stop { false };
        Events events;
    };

    struct EndingCase {
        const char* name;
        std::size_t periods;
        bool loseDevice; // else the run is stopped once every period has been played
        LiveOutcome outcome;
        const char* message;
    };

    class LiveRunEndings : public LiveRunTest, public ::testing::WithParamInterface<EndingCase> { };

    // A run stopped when asked, or ended by a device lost mid-run with the reason, keeps in its
    // recording exactly what was played.
    TEST_P(LiveRunEndings, KeepWhatWasPlayedInTheRecording)
    {
        const EndingCase& row = GetParam();
        LiveEnding ending;
        std::thread run([&] {
            ending = runLive(noiseSettings(), stop, events, fake(row.periods, row.loseDevice));
        });
        const bool finished = playback.awaitFinished();
        const std::vector<float> played = playback.output();
        if (!row.loseDevice)
            stop = true;
        run.join();
        ASSERT_TRUE(finished);
        EXPECT_EQ(ending.outcome, row.outcome);
        EXPECT_EQ(ending.message, row.message);
        EXPECT_EQ(played.size(), row.periods * 128U);
        EXPECT_EQ(ending.framesRecorded, played.size());
        EXPECT_EQ(test::recordedSamples(folder / "record.wav"), played);
        EXPECT_EQ(events.start.sampleRate, 48000U);
        EXPECT_EQ(events.start.periodFrames, 128U);
        EXPECT_EQ(events.start.audio, "a fake");
        EXPECT_GT(events.start.lowDelay.seconds, events.start.highDelay.seconds);
        EXPECT_GT(events.start.highDelay.seconds, 0.0);
    }

    INSTANTIATE_TEST_SUITE_P(Live, LiveRunEndings,
        ::testing::Values(EndingCase { "StopAsked", 400, false, LiveOutcome::Stopped, "" },
            EndingCase {
                "DeviceLost", 250, true, LiveOutcome::DeviceLost, "the fake device went away" }),
        [](const auto& named) { return std::string(named.param.name); });

    TEST_F(LiveRunTest, SaysTheLevelsOnceASecond)
    {
        std::thread run(
            [&] { static_cast<void>(runLive(noiseSettings(), stop, events, fake(100, false))); });
        const bool said = events.awaitStatus();
        stop = true;
        run.join();
        ASSERT_TRUE(said);
        const LiveStatus first = events.statuses.front();
        EXPECT_EQ(first.missedCycles, 3U);
        EXPECT_EQ(first.framesPlayed, 100U * 128U);
        EXPECT_NEAR(first.meters.inputPeak, 0.3F, 0.001F);
        EXPECT_GT(first.meters.outputPeak, 0.0F);
    }

    // A front end that moves the sliders while the run plays: here it turns the gain to 0 before
    // the first period, so nothing is heard, and it must not touch the session once it is gone.
    class SliderEvents final : public LiveEvents {
    public:
        void started(const LiveStart&) override { }
        void status(const LiveStatus&) override { }
        void sessionReady(LiveSession& ready) override
        {
            session = &ready;
            SoundSettings silent;
            silent.gain = 0;
            ready.setSound(silent);
        }
        void sessionEnding() override { session = nullptr; }

        LiveSession* session = nullptr;
    };

    TEST_F(LiveRunTest, AFrontEndCanMoveTheSlidersAndSeeTheBandLevels)
    {
        LiveSettings settings = noiseSettings();
        settings.recordPath.clear();
        BandLevelFeed levels;
        settings.bandLevels = &levels;
        SliderEvents sliders;
        const LiveEnding ending = runLive(settings, stop, sliders, fake(200, true));
        EXPECT_EQ(ending.outcome, LiveOutcome::DeviceLost);
        EXPECT_EQ(sliders.session, nullptr) << "the front end was told the session is gone";
        const std::vector<float> played = playback.output();
        ASSERT_EQ(played.size(), 200U * 128U);
        EXPECT_TRUE(std::all_of(played.begin(), played.end(), [](float v) { return v == 0.0F; }))
            << "at gain 0 nothing is heard";

        // A period's levels each, the last one the voice's last period (a sine of 0.3).
        EXPECT_EQ(levels.publishedCount(), 200U);
        const auto newest = levels.newestAudible(BandLevelFeed::Clock::now(), 0);
        ASSERT_TRUE(newest);
        EXPECT_EQ(newest->number, 200U);
        EXPECT_EQ(newest->sampleRate, 48000.0);
        EXPECT_DOUBLE_EQ(newest->secondsDone, 200.0 * 128.0 / 48000.0);
        EXPECT_GT(*std::max_element(newest->levels.begin(), newest->levels.end()), 0.0);
    }

    struct RefusalCase {
        const char* name;
        bool openFails;
        bool recordIsCarrier;
        bool carrierMissing;
        const char* messageStart;
        bool bandsAboveRate = false; // bands up to 30 kHz on a 48 kHz device
    };

    class LiveRunRefusals : public LiveRunTest,
                            public ::testing::WithParamInterface<RefusalCase> { };

    // A run that cannot start says why, and neither makes a record file nor touches the carrier.
    TEST_P(LiveRunRefusals, SayWhyAndLeaveTheFilesAlone)
    {
        const RefusalCase& refusal = GetParam();
        const auto carrierPath = folder / "carrier.wav";
        const test::Bytes carrierBytes
            = test::waveFileBytes(test::WaveShape {}, test::Bytes(2000, 0x10));
        test::writeFile(carrierPath, carrierBytes);
        LiveSettings settings;
        settings.carrierPath
            = refusal.carrierMissing ? (folder / "missing.wav").string() : carrierPath.string();
        settings.recordPath
            = refusal.recordIsCarrier ? carrierPath.string() : (folder / "record.wav").string();
        if (refusal.bandsAboveRate)
            settings.bands
                = { engine::LayoutKind::Custom, 24, engine::BandRange { 100.0, 30000.0 } };
        const auto open = [&](std::string& problem) -> std::unique_ptr<LiveAudio> {
            if (refusal.openFails) {
                problem = "no JACK server is running and there is no audio input device";
                return nullptr;
            }
            return std::make_unique<FakeAudio>(playback, 10, false);
        };
        stop = true;
        const LiveEnding ending = runLive(settings, stop, events, open);
        EXPECT_EQ(ending.outcome, LiveOutcome::Failed);
        EXPECT_TRUE(ending.message.starts_with(refusal.messageStart)) << ending.message;
        EXPECT_EQ(events.startCount, 0);
        EXPECT_EQ(test::readFile(carrierPath), carrierBytes);
        EXPECT_FALSE(std::filesystem::exists(folder / "record.wav"));
    }

    INSTANTIATE_TEST_SUITE_P(Refusals, LiveRunRefusals,
        ::testing::Values(RefusalCase { "noAudio", true, false, false, "no JACK server" },
            RefusalCase { "recordOverCarrier", false, true, false, "the record file '" },
            RefusalCase { "missingCarrier", false, false, true, "the carrier '" },
            RefusalCase { "bandsAboveRate", false, false, false,
                "the band range does not fit the audio system's rate: at 48000 Hz the bands may "
                "reach 22080 Hz at most",
                true }),
        [](const auto& named) { return std::string(named.param.name); });

    struct LoadCase {
        std::uint32_t fileRate;
        std::uint16_t bits;
        std::uint32_t wantedRate;
    };

    class LiveCarrierLoading : public LiveRunTest,
                               public ::testing::WithParamInterface<LoadCase> { };

    // A carrier file comes whole, at the run's rate, in 16-bit units whatever its depth: a sine
    // of known frequency and level stays that sine.
    TEST_P(LiveCarrierLoading, BringsTheFileToTheRunsRateAndUnits)
    {
        const auto [fileRate, bits, wantedRate] = GetParam();
        const std::size_t frames = fileRate / 2;
        test::Bytes samples;
        for (std::size_t i = 0; i < frames; ++i) {
            const double value = 0.5
                * std::sin(2.0 * std::numbers::pi * 441.0 * static_cast<double>(i) / fileRate);
            if (bits == 8) {
                samples.push_back(static_cast<std::uint8_t>(std::lround(128.0 + 127.0 * value)));
            } else {
                test::appendUint16(samples,
                    static_cast<std::uint16_t>(
                        static_cast<std::int16_t>(std::lround(32767.0 * value))));
            }
        }
        const auto path = folder / "carrier.wav";
        test::writeWaveFile(path, test::WaveShape { 1, 1, fileRate, bits }, samples);
        std::string problem;
        const auto loaded = loadLiveCarrier(path.string(), wantedRate, problem);
        ASSERT_TRUE(loaded) << problem;
        const double expectedFrames = static_cast<double>(frames) * wantedRate / fileRate;
        EXPECT_NEAR(static_cast<double>(loaded->size()), expectedFrames, 2.0);
        // Away from the ends, it is the same sine at the new rate, half of full scale.
        double worst = 0.0;
        for (std::size_t i = loaded->size() / 4; i < 3 * loaded->size() / 4; ++i) {
            const double want = 16384.0
                * std::sin(2.0 * std::numbers::pi * 441.0 * static_cast<double>(i) / wantedRate);
            worst = std::max(worst, std::abs((*loaded)[i] - want));
        }
        EXPECT_LT(worst, bits == 8 ? 400.0 : 20.0);
    }

    // A header may declare more frames than any memory holds: the carrier is read as far as its
    // file goes and refused for breaking off, as a Vocode refuses it, and nothing is taken for
    // the frames it only claims.
    TEST_F(LiveRunTest, ACarrierClaimingMoreThanMemoryHoldsIsRefusedWithItsCause)
    {
        const auto path = (folder / "claims.flac").string();
        std::vector<int> samples(4410);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<int>(std::lround(
                1.0e9 * std::sin(2.0 * std::numbers::pi * 441.0 * static_cast<double>(i) / 44100)));
        ASSERT_TRUE(
            test::writeSoundFile(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, samples));
        // Its stream information says 2^36 - 1 frames, the most it can.
        test::Bytes bytes = test::readFile(path);
        ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "fLaC");
        bytes[21] |= 0x0F;
        std::fill(bytes.begin() + 22, bytes.begin() + 26, std::uint8_t { 0xFF });
        test::writeFile(path, bytes);
        for (const std::uint32_t rate : { 44100u, 48000u }) {
            std::string problem;
            EXPECT_FALSE(loadLiveCarrier(path, rate, problem));
            EXPECT_TRUE(problem.starts_with("the carrier '" + path + "' could not be read: "))
                << problem;
        }
    }

    INSTANTIATE_TEST_SUITE_P(Files, LiveCarrierLoading,
        ::testing::Values(LoadCase { 48000, 16, 48000 }, LoadCase { 44100, 16, 48000 },
            LoadCase { 22050, 8, 48000 }, LoadCase { 48000, 16, 44100 }));

} // namespace
} // namespace lumivox::job
