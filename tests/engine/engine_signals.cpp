#include "engine_signals.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>
#include <random>

namespace lumivox::engine::testing {

Signals musicalSignals(std::size_t frameCount)
{
    Signals s { std::vector<double>(frameCount), std::vector<double>(frameCount) };
    std::mt19937 noise(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double chord[] = { 110.0, 138.6, 164.8, 220.7 };
    for (std::size_t t = 0; t < frameCount; ++t) {
        const double time = static_cast<double>(t) / sampleRate;
        double saw = 0.0;
        for (double f : chord) {
            const double phase = f * time - std::floor(f * time);
            saw += 2.0 * phase - 1.0;
        }
        s.carrier[t] = std::trunc(7000.0 * saw);

        const double syllable = std::sin(std::numbers::pi * 3.0 * time);
        const double envelope = syllable > 0.2 ? syllable : 0.0; // pauses between syllables
        const double pitch = 120.0 + 30.0 * std::sin(2.0 * std::numbers::pi * 0.7 * time);
        const double formant
            = 500.0 + 1500.0 * (0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * time));
        const double voiced = std::sin(2.0 * std::numbers::pi * pitch * time)
            * (0.6 + 0.4 * std::sin(2.0 * std::numbers::pi * formant * time));
        const double hiss = (t / 20000) % 5 == 3 ? 0.5 * unit(noise) : 0.0;
        s.modulator[t] = std::round((envelope * voiced + hiss) * 20000.0) / 32767.0;
    }
    return s;
}

Signals randomSignals(std::size_t frameCount, unsigned seed)
{
    Signals s { std::vector<double>(frameCount), std::vector<double>(frameCount) };
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (std::size_t t = 0; t < frameCount; ++t) {
        s.carrier[t] = sample(rng);
        s.modulator[t] = sample(rng) / 32767.0;
    }
    return s;
}

void apply(VocoderEngine& engine, const Settings& settings)
{
    engine.setVagueness(settings.vagueness);
    engine.setClearance(settings.clearance);
    engine.setOutputGain(settings.gain);
    engine.setClarity(settings.clarity);
    engine.setHarmonicBandBlur(settings.harmonicBlur);
}

Settings settingsForBlock(std::size_t block)
{
    // Every fifth block at the default sliders; the gain is never 0, which would hide every
    // difference in the output.
    if (block % 5 == 0)
        return Settings { 0.0, 0.0, 1.0 };
    return Settings { static_cast<double>(block * 37 % 101) / 100.0,
        static_cast<double>(block * 53 % 103) / 100.0,
        static_cast<double>(block * 29 % 100 + 1) / 50.0 };
}

std::size_t differingSamples(const std::vector<double>& want, const std::vector<double>& got)
{
    std::size_t differing = 0;
    for (std::size_t t = 0; t < want.size(); ++t) {
        if (std::memcmp(&want[t], &got[t], sizeof(double)) != 0) {
            if (differing == 0)
                ADD_FAILURE() << "first difference at frame " << t << ": " << want[t] << " vs "
                              << got[t];
            ++differing;
        }
    }
    return differing;
}

BandLayout designedLayout(const LayoutChoice& choice, double rate)
{
    auto bands = designBands(choice, rate);
    EXPECT_TRUE(bands) << "a layout was refused";
    return bands ? bands->bands : BandLayout::classic();
}

} // namespace lumivox::engine::testing
