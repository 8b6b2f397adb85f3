#include "carrier_supply.h"
#include "counting_allocator.h"
#include "engine/vocoder_engine.h"
#include "live_session.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <numbers>
#include <vector>
#if defined(__SSE__)
#include <emmintrin.h>
#endif

namespace lumivox::job {
namespace {

    constexpr std::uint32_t rate = 48000;

    // A voice-like test signal: a 180 Hz buzz whose level swells and falls four times a second.
    std::vector<float> voice(std::size_t frameCount, double peak = 0.5)
    {
        std::vector<float> values(frameCount);
        for (std::size_t i = 0; i < frameCount; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double swell = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * 4.0 * t);
            double buzz = 0.0;
            for (int harmonic = 1; harmonic <= 8; ++harmonic)
                buzz += std::sin(2.0 * std::numbers::pi * 180.0 * harmonic * t) / harmonic;
            values[i] = static_cast<float>(peak * swell * buzz / 2.0);
        }
        return values;
    }

    // The session run over the whole voice in periods of the given size.
    std::vector<float> playInPeriods(
        LiveSession& session, const std::vector<float>& input, std::size_t period)
    {
        std::vector<float> out(input.size());
        for (std::size_t done = 0; done < input.size(); done += period) {
            const std::size_t count = std::min(period, input.size() - done);
            session.process(
                std::span(input).subspan(done, count), {}, std::span(out).subspan(done, count));
        }
        return out;
    }

    // What the engine gives offline on the whole voice with the noise carrier, as played.
    std::vector<float> offlineNoiseVocode(
        const std::vector<float>& input, const SoundSettings& sound)
    {
        CarrierChoice noise;
        noise.kind = CarrierKind::Noise;
        BuiltInCarrierSource source(noise, rate, wave::OutputDepth::Int16, false);
        std::vector<double> carrier(input.size());
        static_cast<void>(source.read(carrier));
        std::vector<double> modulator(input.begin(), input.end());
        std::vector<double> result(input.size());
        engine::VocoderEngine engine;
        engine.setClearance(sound.clearance / 100.0);
        engine.setVagueness(sound.vagueness / 100.0);
        engine.setOutputGain(sound.gain / 50.0);
        engine.setClarity(sound.clarity / 100.0);
        engine.processBlock(carrier, modulator, result);
        std::vector<float> played(input.size());
        for (std::size_t i = 0; i < input.size(); ++i)
            played[i] = static_cast<float>(std::clamp(result[i] / 32768.0, -1.0, 1.0));
        return played;
    }

    std::unique_ptr<LiveCarrier> noiseCarrier()
    {
        CarrierChoice noise;
        noise.kind = CarrierKind::Noise;
        return makeSoundCarrier(noise, rate);
    }

    struct PeriodCase {
        std::size_t period;
        std::size_t maxFrames;
    };

    class LiveSessionPeriods : public ::testing::TestWithParam<PeriodCase> { };

    // Whatever the period, and when it is longer than the engine takes at once, the live output is
    // the offline vocoding of the same voice and carrier, bit for bit.
    TEST_P(LiveSessionPeriods, PlaysWhatTheEngineGivesOffline)
    {
        const SoundSettings sound { 20, 30, 70, 40 };
        const std::vector<float> input = voice(rate / 2);
        LiveSession session(noiseCarrier(), sound, GetParam().maxFrames, nullptr);
        const std::vector<float> live = playInPeriods(session, input, GetParam().period);
        EXPECT_EQ(live, offlineNoiseVocode(input, sound));
        EXPECT_EQ(session.framesPlayed(), input.size());
    }

    INSTANTIATE_TEST_SUITE_P(Periods, LiveSessionPeriods,
        ::testing::Values(PeriodCase { 64, 64 }, PeriodCase { 128, 1024 },
            PeriodCase { 1000, 1024 }, PeriodCase { 5000, 1024 }, PeriodCase { 333, 100 }));

    TEST(LiveSession, SilenceInGivesSilenceOut)
    {
        LiveSession session(noiseCarrier(), SoundSettings { 0, 0, 100, 50 }, 256, nullptr);
        const std::vector<float> out = playInPeriods(session, std::vector<float>(4800), 128);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0F; }));
    }

    TEST(LiveSession, OutputStaysWithinFullScale)
    {
        LiveSession session(noiseCarrier(), SoundSettings { 0, 0, 100, 0 }, 256, nullptr);
        const std::vector<float> out = playInPeriods(session, voice(rate / 4, 40.0), 128);
        const auto [low, high] = std::minmax_element(out.begin(), out.end());
        EXPECT_GE(*low, -1.0F);
        EXPECT_LE(*high, 1.0F);
        EXPECT_EQ(*high, 1.0F) << "so loud a voice must reach full scale";
    }

    // A slider moved while it plays is heard from the next period, as if the engine had been set
    // at that frame offline.
    TEST(LiveSession, SettingsTakeEffectFromTheNextPeriod)
    {
        const std::vector<float> input = voice(rate / 4);
        LiveSession session(noiseCarrier(), SoundSettings { 0, 0, 0, 0 }, 256, nullptr);
        const std::size_t half = 48 * 128;
        std::vector<float> first
            = playInPeriods(session, std::vector<float>(input.begin(), input.begin() + half), 128);
        EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](float v) { return v == 0.0F; }))
            << "at gain 0 nothing is heard";
        session.setSound(SoundSettings { 0, 0, 50, 0 });
        const std::vector<float> second
            = playInPeriods(session, std::vector<float>(input.begin() + half, input.end()), 128);
        const std::vector<float> reference = offlineNoiseVocode(input, SoundSettings {});
        // Gain only scales the output, so after the change it is the offline one at gain 1.
        EXPECT_TRUE(std::equal(second.begin(), second.end(), reference.begin() + half));
    }

    // A sample that is not a number (from a faulty program on the voice or carrier port) is
    // taken as silence: it must not leave the filters without a number for the rest of the run.
    TEST(LiveSession, SamplesThatAreNotNumbersAreTakenAsSilence)
    {
        const std::vector<float> input = voice(rate / 4);
        std::vector<float> spoiled = input;
        const float notNumbers[] = { std::numeric_limits<float>::quiet_NaN(),
            std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity() };
        for (std::size_t i = 0; i < 3; ++i)
            spoiled[1000 + i] = notNumbers[i];
        std::vector<float> cleaned = input;
        std::fill_n(cleaned.begin() + 1000, 3, 0.0F);
        LiveSession session(noiseCarrier(), SoundSettings {}, 256, nullptr);
        const std::vector<float> out = playInPeriods(session, spoiled, 128);
        EXPECT_EQ(out, offlineNoiseVocode(cleaned, SoundSettings {}));

        auto port = makePortCarrier();
        std::vector<double> carrier(3, 1.0);
        port->fill(std::vector<double>(3, 0.0), std::span<const float>(notNumbers), carrier);
        EXPECT_EQ(carrier, std::vector<double>(3, 0.0));
    }

#if defined(__SSE__)
    // Once a voice falls silent the filters' states decay through numbers too small for their
    // normal form, which the processor handles tens of times more slowly; the callback has them
    // taken as 0 while it works, and leaves the thread's own setting as it found it.
    TEST(LiveSession, WorksWithNumbersTooSmallForTheirNormalFormTakenAsZero)
    {
        struct WatchingCarrier final : LiveCarrier {
            void fill(
                std::span<const double>, std::span<const float>, std::span<double> out) override
            {
                seen = _mm_getcsr();
                // A number below the normal range, through the vector unit as the engine uses it.
                tiny = _mm_cvtsd_f64(_mm_mul_sd(_mm_set_sd(tinyIn), _mm_set_sd(0.5)));
                std::fill(out.begin(), out.end(), 0.0);
            }
            unsigned seen = 0;
            double tiny = 1.0;
            volatile double tinyIn = 1e-310;
        };
        auto watching = std::make_unique<WatchingCarrier>();
        WatchingCarrier& carrier = *watching;
        LiveSession session(std::move(watching), SoundSettings {}, 256, nullptr);
        const unsigned before = _mm_getcsr();
        std::vector<float> out(128);
        session.process(std::vector<float>(128, 0.1F), {}, out);
        EXPECT_EQ(carrier.seen & 0x8040U, 0x8040U) << "flush to zero and denormals are zero";
        EXPECT_EQ(carrier.tiny, 0.0);
        EXPECT_EQ(_mm_getcsr(), before);
    }
#endif

    TEST(LiveSession, MetersHoldThePeaksSinceTheyWereLastTaken)
    {
        LiveSession session(noiseCarrier(), SoundSettings {}, 256, nullptr);
        std::vector<float> input(1024, 0.0F);
        input[100] = -0.25F;
        std::vector<float> out(input.size());
        session.process(input, {}, out);
        const LiveMeters meters = session.takeMeters();
        EXPECT_EQ(meters.inputPeak, 0.25F);
        float outPeak = 0.0F;
        for (float v : out)
            outPeak = std::max(outPeak, std::abs(v));
        EXPECT_EQ(meters.outputPeak, outPeak);
        EXPECT_GT(outPeak, 0.0F);
        const LiveMeters again = session.takeMeters();
        EXPECT_EQ(again.inputPeak, 0.0F);
        EXPECT_EQ(again.outputPeak, 0.0F);
    }

    TEST(LiveSession, RecordsExactlyWhatItPlays)
    {
        RecordRing ring(1 << 16);
        LiveSession session(noiseCarrier(), SoundSettings {}, 256, &ring);
        const std::vector<float> out = playInPeriods(session, voice(10000), 128);
        std::vector<float> recorded(ring.capacity());
        recorded.resize(ring.pop(recorded));
        EXPECT_EQ(recorded, out);
        EXPECT_EQ(ring.lostFrames(), 0U);
    }

    // The carrier port's frames in 16-bit units, silence where the port brought fewer.
    TEST(LiveCarrier, PortCarrierScalesThePortToSixteenBitUnits)
    {
        auto carrier = makePortCarrier();
        const std::vector<float> port { 0.5F, -1.0F, 0.25F };
        std::vector<double> out(5, 7.0);
        const std::vector<double> voiceValues(5, 0.0);
        carrier->fill(voiceValues, port, out);
        EXPECT_EQ(out, (std::vector<double> { 16384.0, -32768.0, 8192.0, 0.0, 0.0 }));
    }

    // A looped recording plays whole, then each seam mixes the end of one pass (fading out on a
    // cosine) with the start of the next (fading in on a sine), and a pass after the first starts
    // past the fade.
    TEST(LiveCarrier, LoopedCarrierCrossfadesEachSeam)
    {
        const std::size_t length = 1000;
        const std::size_t fade = 100;
        std::vector<double> recording(length);
        for (std::size_t i = 0; i < length; ++i)
            recording[i] = 1000.0 + static_cast<double>(i);
        auto carrier = makeLoopedCarrier(recording, fade);
        const std::size_t period = length - fade; // a pass after the first
        std::vector<double> played(3 * period);
        const std::vector<double> silence(played.size(), 0.0);
        for (std::size_t done = 0; done < played.size(); done += 128) {
            const std::size_t count = std::min<std::size_t>(128, played.size() - done);
            carrier->fill(std::span(silence).subspan(done, count), {},
                std::span(played).subspan(done, count));
        }
        // From the first seam on, the pattern repeats every pass after the first.
        const auto expected = [&](std::size_t n) {
            const std::size_t j = (n - (length - fade)) % period;
            if (j >= fade)
                return recording[j];
            const double u = (static_cast<double>(j) + 0.5) / static_cast<double>(fade);
            return recording[length - fade + j] * std::cos(0.5 * std::numbers::pi * u)
                + recording[j] * std::sin(0.5 * std::numbers::pi * u);
        };
        for (std::size_t n = 0; n < length - fade; ++n)
            ASSERT_EQ(played[n], recording[n]) << n;
        for (std::size_t n = length - fade; n < played.size(); ++n)
            ASSERT_NEAR(played[n], expected(n), 1e-9) << n;
    }

    struct CarrierCase {
        const char* name;
        CarrierKind kind;
    };

    class LiveSessionAllocations : public ::testing::TestWithParam<CarrierCase> { };

    // The audio callback must never wait on the system's allocator: with every carrier and with
    // every stage of the engine at work, a run of periods takes no memory at all.
    TEST_P(LiveSessionAllocations, ProcessTakesNoMemory)
    {
        std::unique_ptr<LiveCarrier> carrier;
        if (GetParam().kind == CarrierKind::File) {
            std::vector<double> recording(30000);
            for (std::size_t i = 0; i < recording.size(); ++i)
                recording[i] = 8000.0 * std::sin(0.01 * static_cast<double>(i));
            carrier = makeLoopedCarrier(recording, 960);
        } else {
            CarrierChoice choice;
            choice.kind = GetParam().kind;
            carrier = makeSoundCarrier(choice, rate);
        }
        RecordRing ring(1 << 18);
        LiveSession session(std::move(carrier), SoundSettings { 30, 50, 60, 50 }, 128, &ring);
        BandLevelFeed levels;
        session.publishBandLevels(&levels, rate);
        const std::vector<float> input = voice(rate);
        const std::vector<float> port(128, 0.25F);
        std::vector<float> out(128);
        long allocations = 0;
        for (std::size_t done = 0; done + 128 <= input.size(); done += 128) {
            if (done == 64 * 128)
                session.setSound(SoundSettings { 0, 80, 50, 0 });
            const testing::CountAllocations counter;
            session.process(std::span(input).subspan(done, 128), port, out);
            allocations += counter.count();
        }
        EXPECT_EQ(allocations, 0);
        EXPECT_EQ(ring.lostFrames(), 0U);
        EXPECT_EQ(levels.publishedCount(), input.size() / 128);
    }

    INSTANTIATE_TEST_SUITE_P(Carriers, LiveSessionAllocations,
        ::testing::Values(CarrierCase { "noise", CarrierKind::Noise },
            CarrierCase { "chord", CarrierKind::Chord },
            CarrierCase { "follow", CarrierKind::FollowVoice },
            CarrierCase { "loop", CarrierKind::File }),
        [](const auto& named) { return std::string(named.param.name); });

    // The check above can fail: an allocation inside the counted span is seen.
    TEST(CountAllocations, SeesAnAllocation)
    {
        const testing::CountAllocations counter;
        auto block = std::make_unique<std::vector<double>>(16);
        EXPECT_GE(counter.count(), 2);
    }

} // namespace
} // namespace lumivox::job
