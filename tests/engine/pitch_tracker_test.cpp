#include "block_path.h"
#include "pitch_correlation.h"
#include "pitch_tracker.h"
#include "white_noise.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace lumivox::engine {
namespace {

    // A voice-like tone: harmonics falling at 6 dB per octave up to 4 kHz.
    double tone(double hertz, double rate, std::size_t n)
    {
        double sum = 0.0;
        for (int k = 1; k * hertz < std::min(4000.0, rate / 2.0); ++k)
            sum += std::sin(2.0 * std::numbers::pi * k * hertz * static_cast<double>(n) / rate) / k;
        return 0.3 * sum;
    }

    double cents(double hertz, double reference) { return 1200.0 * std::log2(hertz / reference); }

    // A second of a voice gliding from 90 to 250 Hz with breath in it.
    std::vector<double> glidingVoice(double rate)
    {
        WhiteNoise breath(11);
        double phase = 0.0;
        std::vector<double> voice(static_cast<std::size_t>(rate));
        for (std::size_t n = 0; n < voice.size(); ++n) {
            const double hertz = 90.0 + 160.0 * static_cast<double>(n) / rate;
            phase += hertz / rate;
            voice[n] = 0.05 * breath.next();
            for (int k = 1; k * hertz < 4000.0; ++k)
                voice[n] += 0.3 * std::sin(2.0 * std::numbers::pi * k * phase) / k;
        }
        return voice;
    }

    // What a frame found, bit for bit.
    std::vector<std::uint64_t> frameBits(const PitchEstimate& e)
    {
        return { std::bit_cast<std::uint64_t>(e.hertz), e.voiced ? 1u : 0u,
            std::bit_cast<std::uint64_t>(e.centreFrame),
            std::bit_cast<std::uint64_t>(e.aperiodicity) };
    }

    struct ToneCase {
        double hertz;
        double rate;
        double noiseToTone; // amplitude of uniform noise beside the tone's 0.3
        double toleranceCents = 5.0;
    };

    class PitchOfTones : public ::testing::TestWithParam<ToneCase> { };

    TEST_P(PitchOfTones, IsFoundOnEveryFrameWithinTheTolerance)
    {
        const ToneCase c = GetParam();
        PitchTracker tracker(c.rate);
        WhiteNoise noise(7);
        const auto total = static_cast<std::size_t>(c.rate); // one second
        int frames = 0;
        int voiced = 0;
        double worstCents = 0.0;
        for (std::size_t n = 0; n < total; ++n) {
            if (!tracker.push(tone(c.hertz, c.rate, n) + c.noiseToTone * noise.next()))
                continue;
            const PitchEstimate& e = tracker.latest();
            if (e.centreFrame < 0.02 * c.rate)
                continue; // the low-pass filter is still settling
            ++frames;
            if (!e.voiced)
                continue;
            ++voiced;
            worstCents = std::max(worstCents, std::abs(cents(e.hertz, c.hertz)));
        }
        EXPECT_GE(frames, 90);
        EXPECT_EQ(voiced, frames);
        EXPECT_LE(worstCents, c.toleranceCents);
    }

    INSTANTIATE_TEST_SUITE_P(Tones, PitchOfTones,
        ::testing::Values(ToneCase { 65.0, 44100.0, 0.0 }, ToneCase { 110.0, 44100.0, 0.0 },
            ToneCase { 196.0, 48000.0, 0.0 }, ToneCase { 261.63, 22050.0, 0.0 },
            ToneCase { 440.0, 44100.0, 0.0 }, ToneCase { 880.0, 16000.0, 0.0 },
            ToneCase { 150.0, 44100.0, 0.03 }, ToneCase { 330.0, 48000.0, 0.05 },
            // Noise louder than the tone: once voiced, the tracker holds the pitch near the last
            // period instead of flickering or jumping an octave.
            ToneCase { 150.0, 44100.0, 0.8, 50.0 }));

    // Every unit finds the same pitches, bit for bit, in a gliding voice with breath in it: the
    // correlations of every lag are summed in one order whatever the lanes.
    TEST(PitchTracker, EveryUnitFindsTheSamePitchesBitForBit)
    {
        const double rate = 44100.0;
        std::vector<std::vector<std::uint64_t>> found;
        const std::vector<double> voice = glidingVoice(rate);
        for (const VectorUnit unit : vectorUnitsOfThisMachine()) {
            PitchTracker tracker(rate, unit);
            std::vector<std::uint64_t> bits;
            int voicedFrames = 0;
            for (const double sample : voice) {
                if (!tracker.push(sample))
                    continue;
                voicedFrames += tracker.latest().voiced ? 1 : 0;
                const std::vector<std::uint64_t> frame = frameBits(tracker.latest());
                bits.insert(bits.end(), frame.begin(), frame.end());
            }
            ASSERT_GT(voicedFrames, 80);
            found.push_back(std::move(bits));
        }
        for (std::size_t u = 1; u < found.size(); ++u)
            EXPECT_EQ(found[u], found.front()) << vectorUnitName(vectorUnitsOfThisMachine()[u]);
    }

    // A voice handed over in blocks of any length, a sample at a time or thousands, gives the
    // same frames, bit for bit and each reported once, as the same voice pushed sample by sample.
    TEST(PitchTracker, FindsTheSameFramesHowEverTheInputIsSplit)
    {
        const double rate = 48000.0;
        const std::vector<double> voice = glidingVoice(rate);
        PitchTracker bySample(rate);
        std::vector<std::uint64_t> want;
        for (const double sample : voice) {
            if (!bySample.push(sample))
                continue;
            const std::vector<std::uint64_t> frame = frameBits(bySample.latest());
            want.insert(want.end(), frame.begin(), frame.end());
        }
        ASSERT_GT(want.size(), 4u * 90u);
        for (const std::size_t blockLength : { 1, 3, 7, 64, 480, 4096 }) {
            PitchTracker tracker(rate);
            std::vector<std::uint64_t> got;
            for (std::size_t at = 0; at < voice.size(); at += blockLength) {
                const std::size_t length = std::min(blockLength, voice.size() - at);
                tracker.pushAll(std::span<const double>(voice.data() + at, length), [&] {
                    const std::vector<std::uint64_t> frame = frameBits(tracker.latest());
                    got.insert(got.end(), frame.begin(), frame.end());
                });
            }
            EXPECT_EQ(got, want) << "blocks of " << blockLength;
        }
    }

    // The correlations are the plain sums, lag by lag, in the order of the window's samples.
    TEST(PitchCorrelation, SumsEachLagInTheWindowsOrderOnEveryUnit)
    {
        WhiteNoise noise(3);
        for (const int lags : { 1, 17, 105, 240 }) {
            const int window = lags + 3;
            std::vector<double> samples(
                static_cast<std::size_t>(window + lags + pitchCorrelationOverrun));
            for (double& x : samples)
                x = noise.next();
            std::vector<double> want(static_cast<std::size_t>(lags));
            for (int lag = 1; lag <= lags; ++lag) {
                double sum = 0.0;
                for (int j = 0; j < window; ++j)
                    sum = sum + samples[static_cast<std::size_t>(j)]
                            * samples[static_cast<std::size_t>(j + lag)];
                want[static_cast<std::size_t>(lag - 1)] = sum;
            }
            for (const VectorUnit unit : vectorUnitsOfThisMachine()) {
                std::vector<double> got(static_cast<std::size_t>(lags + pitchCorrelationOverrun));
                pitchCorrelationFor(unit)(samples.data(), window, lags, got.data());
                got.resize(static_cast<std::size_t>(lags));
                EXPECT_EQ(got, want) << vectorUnitName(unit) << ", " << lags << " lags";
            }
        }
    }

    TEST(PitchTracker, FindsNoPitchInNoiseOrSilence)
    {
        PitchTracker tracker(44100.0);
        WhiteNoise noise(11);
        int voiced = 0;
        for (std::size_t n = 0; n < 44100; ++n) {
            const double sample = n < 22050 ? 0.3 * noise.next() : 0.0;
            if (tracker.push(sample) && tracker.latest().voiced)
                ++voiced;
        }
        EXPECT_EQ(voiced, 0);
    }

    // A tone and noise (or silence) meeting at half a second: frames wholly on one side of the
    // boundary say so, and the frames' centres put the change within 20 ms of it.
    struct BoundaryCase {
        bool toneFirst;
        double otherLevel; // of the noise side; 0 for silence
    };

    class VoicingBoundary : public ::testing::TestWithParam<BoundaryCase> { };

    TEST_P(VoicingBoundary, FallsWhereTheToneStartsOrStops)
    {
        const BoundaryCase c = GetParam();
        const double rate = 44100.0;
        const double boundary = rate / 2.0;
        PitchTracker tracker(rate);
        WhiteNoise noise(3);
        int wrong = 0;
        for (std::size_t n = 0; n < 44100; ++n) {
            const bool inTone = (static_cast<double>(n) < boundary) == c.toneFirst;
            const double sample = inTone ? tone(200.0, rate, n) : c.otherLevel * noise.next();
            if (!tracker.push(sample))
                continue;
            const PitchEstimate& e = tracker.latest();
            const double centre = e.centreFrame;
            if (std::abs(centre - boundary) < 0.02 * rate)
                continue;
            const bool toneAtCentre = (centre < boundary) == c.toneFirst;
            if (e.voiced != toneAtCentre)
                ++wrong;
        }
        EXPECT_EQ(wrong, 0);
    }

    INSTANTIATE_TEST_SUITE_P(Boundaries, VoicingBoundary,
        ::testing::Values(BoundaryCase { true, 0.2 }, BoundaryCase { false, 0.2 },
            BoundaryCase { true, 0.0 }, BoundaryCase { false, 0.0 }));

    // At any rate a reader takes, down to 1 Hz, every frame keeps within what a frame can say:
    // an aperiodicity from 0 to the lags searched, a voiced pitch below half the rate, a centre
    // among the samples pushed so far. (At 120 Hz and below the analysis once read past its
    // buffers.)
    class TrackerAtAnyRate : public ::testing::TestWithParam<double> { };

    TEST_P(TrackerAtAnyRate, AnalysesEveryFrameWithinItsBounds)
    {
        const double sampleRate = GetParam();
        PitchTracker tracker(sampleRate);
        WhiteNoise noise(5);
        const std::size_t total = 200 * static_cast<std::size_t>(tracker.hopInputFrames()) + 400;
        int frames = 0;
        for (std::size_t n = 0; n < total; ++n) {
            const double sample
                = std::sin(0.7 * static_cast<double>(n)) * 0.3 + 0.05 * noise.next();
            if (!tracker.push(sample))
                continue;
            ++frames;
            const PitchEstimate& e = tracker.latest();
            ASSERT_TRUE(std::isfinite(e.aperiodicity) && e.aperiodicity >= 0.0) << e.aperiodicity;
            // d'(lag) is at most lag, and no lag searched is longer than the lowest pitch's period
            // and a few more.
            ASSERT_LE(e.aperiodicity, tracker.analysisRate() / PitchTracker::lowestHertz + 3.0);
            ASSERT_TRUE(std::isfinite(e.hertz) && e.hertz > 0.0);
            if (e.voiced) {
                ASSERT_LE(e.hertz, tracker.analysisRate() / 2.0 * 1.01);
            }
            ASSERT_LE(e.centreFrame, static_cast<double>(n + 1));
        }
        EXPECT_GE(frames, 100);
    }

    INSTANTIATE_TEST_SUITE_P(Rates, TrackerAtAnyRate,
        ::testing::Values(
            1.0, 2.0, 8.0, 44.0, 60.0, 100.0, 120.0, 121.0, 180.0, 181.0, 8000.0, 1.0e6),
        [](const ::testing::TestParamInfo<double>& row) {
            return std::to_string(static_cast<long>(row.param)) + "Hz";
        });

} // namespace
} // namespace lumivox::engine
