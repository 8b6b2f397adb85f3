// The follow sound vocoded by a voice at another pitch than the voice's: in the bands narrower than
// the voice's harmonic spacing, the sound's partials that fall between the voice's harmonics must
// come through too, or the output takes the voice's pitch (or a multiple of it) instead of the
// sound's.
#include "follow_voice_sound.h"
#include "spectrum.h"
#include "vocoder_engine.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace lumivox::engine {
namespace {

    constexpr double rate = 44100.0;
    constexpr std::size_t fftSize = 1 << 15;
    constexpr double harmonicBandsTopHertz = 1221.0; // the top edge of band 18

    // A sung "oo": every harmonic up to 5 kHz through its three formants, the strongest low, at the
    // modulator's usual scale.
    std::vector<double> vowel(double hertz, std::size_t frames)
    {
        constexpr double formants[][2] = { { 300.0, 60.0 }, { 870.0, 90.0 }, { 2240.0, 120.0 } };
        const auto envelope = [&](double f) {
            double sum = 0.02;
            for (const auto& [centre, width] : formants)
                sum += 1.0 / (1.0 + (f - centre) * (f - centre) / (width * width));
            return sum;
        };
        std::vector<double> samples(frames);
        for (std::size_t n = 0; n < frames; ++n) {
            const double phase = 2.0 * std::numbers::pi * hertz * static_cast<double>(n) / rate;
            double value = 0.0;
            for (int k = 1; k * hertz < 5000.0; ++k)
                value += envelope(k * hertz) * std::sin(k * phase) / k;
            samples[n] = 0.08 * value;
        }
        return samples;
    }

    // The power of the output's odd partials of the sound (those that fall between the voice's
    // harmonics at these intervals) against its even ones, in dB, below the harmonic bands' top.
    double oddAgainstEvenDecibels(const std::vector<double>& output, double soundHertz)
    {
        const std::vector<double> settled(output.end() - fftSize, output.end());
        const auto spectrum = test::magnitudeSpectrum(settled, fftSize);
        double power[2] = { 0.0, 0.0 };
        for (int k = 1; k * soundHertz < harmonicBandsTopHertz; ++k) {
            const double bin = k * soundHertz / rate * fftSize;
            const auto at = static_cast<std::size_t>(std::lround(test::peakBin(spectrum,
                static_cast<std::size_t>(bin - 3.0), static_cast<std::size_t>(bin + 4.0))));
            power[k % 2] += spectrum[at] * spectrum[at];
        }
        return 10.0 * std::log10(power[1] / power[0]);
    }

    struct FollowCase {
        double voiceHertz;
        int semitones;
    };

    class FollowThroughEngine : public ::testing::TestWithParam<FollowCase> { };

    TEST_P(FollowThroughEngine, LetsThePartialsBetweenTheVoicesHarmonicsThroughWhenBlurred)
    {
        const auto [voiceHertz, semitones] = GetParam();
        const std::vector<double> modulator = vowel(voiceHertz, 2 * static_cast<std::size_t>(rate));
        FollowVoiceSound sound(rate, semitones);
        std::vector<double> carrier(modulator.size());
        sound.listen(modulator);
        sound.render(carrier);
        for (double& sample : carrier)
            sample *= 32768.0; // the carrier in its integer sample units

        const auto vocoded = [&](int harmonicBandBlur) {
            VocoderEngine engine;
            engine.setHarmonicBandBlur(harmonicBandBlur);
            std::vector<double> output(modulator.size());
            engine.processBlock(carrier, modulator, output);
            return oddAgainstEvenDecibels(output, voiceHertz * std::exp2(semitones / 12.0));
        };
        const double blurred = vocoded(FollowVoiceSound::harmonicBandBlur);
        const double sharp = vocoded(0);
        EXPECT_GE(blurred, -6.0);
        // Unblurred, each of those bands passes only the partials next to the voice's harmonics.
        EXPECT_GE(blurred - sharp, 8.0) << "unblurred: " << sharp << " dB";
    }

    INSTANTIATE_TEST_SUITE_P(Intervals, FollowThroughEngine,
        ::testing::Values(FollowCase { 120.0, -12 }, FollowCase { 120.0, 7 },
            FollowCase { 200.0, -12 }, FollowCase { 100.0, -5 }));

} // namespace
} // namespace lumivox::engine
