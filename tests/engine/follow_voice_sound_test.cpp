#include "follow_voice_sound.h"
#include "spectrum.h"
#include "white_noise.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace lumivox::engine {
namespace {

    constexpr double rate = 44100.0;
    constexpr std::size_t fftSize = 1 << 15;

    // A voiced tone with a few harmonics, at the modulator's usual scale.
    std::vector<double> voice(double hertz, std::size_t frames)
    {
        std::vector<double> samples(frames);
        for (std::size_t n = 0; n < frames; ++n) {
            const double phase = 2.0 * std::numbers::pi * hertz * static_cast<double>(n) / rate;
            samples[n]
                = 0.4 * std::sin(phase) + 0.2 * std::sin(2.0 * phase) + 0.1 * std::sin(3.0 * phase);
        }
        return samples;
    }

    struct FollowCase {
        double voiceHertz;
        int semitones;
        bool listenAhead; // a block ahead, as Vocode feeds it; Preview listens to the same block
    };

    class FollowPitch : public ::testing::TestWithParam<FollowCase> { };

    TEST_P(FollowPitch, SawsAtTheVoicesPitchMovedByTheInterval)
    {
        const FollowCase c = GetParam();
        const std::size_t block = 2048;
        const std::vector<double> modulator = voice(c.voiceHertz, 48 * block);
        FollowVoiceSound sound(rate, c.semitones);
        std::vector<double> out(modulator.size());
        const std::span<const double> all(modulator);
        if (c.listenAhead)
            sound.listen(all.subspan(0, block));
        for (std::size_t at = 0; at < modulator.size(); at += block) {
            const std::size_t ahead = c.listenAhead ? at + block : at;
            if (ahead < modulator.size())
                sound.listen(all.subspan(ahead, block));
            sound.render(std::span<double>(out).subspan(at, block));
        }

        // The saw's fundamental is its strongest partial.
        const std::vector<double> settled(out.end() - fftSize, out.end());
        const auto spectrum = test::magnitudeSpectrum(settled, fftSize);
        const double want = c.voiceHertz * std::exp2(c.semitones / 12.0);
        const double bin = want / rate * fftSize;
        const double found = test::peakBin(spectrum, static_cast<std::size_t>(bin * 0.7),
                                 static_cast<std::size_t>(bin * 1.4))
            * rate / fftSize;
        EXPECT_NEAR(1200.0 * std::log2(found / want), 0.0, 5.0);
        // Steady voicing leaves no noise: nothing between the partials within 40 dB of the top.
        EXPECT_LE(test::largestOffHarmonicDecibels(spectrum, { bin }, 6.0), -40.0);
    }

    INSTANTIATE_TEST_SUITE_P(Intervals, FollowPitch,
        ::testing::Values(FollowCase { 200.0, 7, true }, FollowCase { 150.0, -12, true },
            FollowCase { 300.0, 12, false }, FollowCase { 120.0, 0, false }));

    TEST(FollowVoiceSound, GivesNoiseWhereTheVoiceHasNoPitch)
    {
        WhiteNoise breath(5);
        std::vector<double> modulator(rate);
        for (double& s : modulator)
            s = 0.2 * breath.next();
        FollowVoiceSound sound(rate, 0);
        std::vector<double> out(modulator.size());
        sound.listen(modulator);
        sound.render(out);
        double energy = 0.0;
        for (const double s : out)
            energy += s * s;
        // Uniform noise at the sound's noise level, and nothing else.
        const double rms = std::sqrt(energy / static_cast<double>(out.size()));
        EXPECT_NEAR(rms, FollowVoiceSound::noiseGain / std::sqrt(3.0), 0.01);
        // White: no bin stands out from the mean power by more than chance allows (a saw's
        // partials stand 30 dB and more above it).
        const auto spectrum = test::magnitudeSpectrum(out, fftSize);
        double power = 0.0;
        double strongest = 0.0;
        for (const double m : spectrum) {
            power += m * m;
            strongest = std::max(strongest, m * m);
        }
        EXPECT_LE(
            10.0 * std::log10(strongest * static_cast<double>(spectrum.size()) / power), 13.0);
    }

    // The follow sound at any rate a reader takes, from 1 Hz to the highest: it listens and
    // renders blocks of finite samples within its level, a saw's peaks beside the noise's.
    class FollowAtAnyRate : public ::testing::TestWithParam<double> { };

    TEST_P(FollowAtAnyRate, RendersFiniteSamplesWithinItsLevel)
    {
        const double sampleRate = GetParam();
        FollowVoiceSound sound(sampleRate, 7);
        WhiteNoise noise(9);
        std::vector<double> heard(2048);
        std::vector<double> out(2048);
        double loudest = 0.0;
        for (int block = 0; block < 40; ++block) {
            for (std::size_t n = 0; n < heard.size(); ++n) {
                const auto at = static_cast<double>(block * heard.size() + n);
                heard[n] = 0.4 * std::sin(0.3 * at) + 0.01 * noise.next();
            }
            sound.listen(heard);
            sound.render(out);
            for (const double sample : out) {
                ASSERT_TRUE(std::isfinite(sample));
                loudest = std::max(loudest, std::abs(sample));
            }
        }
        EXPECT_LE(loudest, 2.0 * (FollowVoiceSound::sawGain + FollowVoiceSound::noiseGain));
    }

    INSTANTIATE_TEST_SUITE_P(Rates, FollowAtAnyRate,
        ::testing::Values(1.0, 8.0, 30.0, 60.0, 120.0, 8000.0, 1.0e7, 1073741823.0),
        [](const ::testing::TestParamInfo<double>& row) {
            return std::to_string(static_cast<long>(row.param)) + "Hz";
        });

} // namespace
} // namespace lumivox::engine
