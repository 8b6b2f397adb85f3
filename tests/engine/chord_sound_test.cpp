#include "band_limited_saw.h"
#include "chord_sound.h"
#include "spectrum.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace lumivox::engine {
namespace {

    constexpr std::size_t fftSize = 1 << 16;

    // Samples of a sound after its first quarter second, enough for one spectrum.
    template <typename Render> std::vector<double> settled(double rate, Render&& render)
    {
        const auto skip = static_cast<std::size_t>(rate / 4.0);
        std::vector<double> samples(skip + fftSize, 0.0);
        render(samples);
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(skip));
        return samples;
    }

    struct ChordCase {
        const char* root;
        ChordType type;
        double rate;
    };

    class ChordSpectrum : public ::testing::TestWithParam<ChordCase> { };

    TEST_P(ChordSpectrum, HasNothingBetweenItsHarmonicsAboveMinus80Decibels)
    {
        const ChordCase c = GetParam();
        const int root = *parseNoteName(c.root);
        ChordSound chord(c.rate, root, c.type);
        const auto samples = settled(c.rate, [&](std::vector<double>& s) { chord.render(s); });
        std::vector<double> fundamentals;
        for (const int interval : chordIntervals(c.type))
            fundamentals.push_back(noteHertz(root + interval) / c.rate * fftSize);
        const auto spectrum = test::magnitudeSpectrum(samples, fftSize);
        EXPECT_LE(test::largestOffHarmonicDecibels(spectrum, fundamentals, 6.0), -80.0);
    }

    // The power a chord puts into one vocoder band, here 1 to 2 kHz, in decibels.
    double bandDecibels(const std::vector<double>& spectrum, double rate)
    {
        const auto first = static_cast<std::size_t>(1000.0 / rate * fftSize);
        const auto last = std::min(static_cast<std::size_t>(2000.0 / rate * fftSize), fftSize / 2);
        double energy = 0.0;
        for (std::size_t b = first; b <= last; ++b)
            energy += spectrum[b] * spectrum[b];
        return 10.0 * std::log10(energy);
    }

    // Whatever the root and the type, a band of the vocoder gets about the power that a C3 major
    // chord puts into it, so that the vocoded output's level does not follow the root.
    TEST_P(ChordSpectrum, FillsABandAsAC3MajorChordDoesWithEveryNoteAtTheSameLevel)
    {
        const ChordCase c = GetParam();
        const int root = *parseNoteName(c.root);
        ChordSound chord(c.rate, root, c.type);
        const auto samples = settled(c.rate, [&](std::vector<double>& s) { chord.render(s); });
        ChordSound reference(c.rate, defaultChordRoot, ChordType::Major);
        const auto referenceSamples
            = settled(c.rate, [&](std::vector<double>& s) { reference.render(s); });
        EXPECT_NEAR(bandDecibels(test::magnitudeSpectrum(samples, fftSize), c.rate)
                - bandDecibels(test::magnitudeSpectrum(referenceSamples, fftSize), c.rate),
            0.0, 2.0);

        // Each note's fundamental carries the same energy, whatever its pitch: summed over the
        // window's main lobe, which holds it wherever the partial falls between bins.
        const auto spectrum = test::magnitudeSpectrum(samples, fftSize);
        std::vector<double> levels;
        for (const int interval : chordIntervals(c.type)) {
            if (interval == 12)
                continue; // an octave's fundamental shares its bin with the root's second partial
            const double bin = noteHertz(root + interval) / c.rate * fftSize;
            const auto centre = static_cast<std::size_t>(std::lround(bin));
            double energy = 0.0;
            for (std::size_t b = centre - 4; b <= centre + 4; ++b)
                energy += spectrum[b] * spectrum[b];
            levels.push_back(std::sqrt(energy));
        }
        for (const double level : levels)
            EXPECT_NEAR(20.0 * std::log10(level / levels.front()), 0.0, 0.2);
    }

    INSTANTIATE_TEST_SUITE_P(Roots, ChordSpectrum,
        ::testing::Values(ChordCase { "C2", ChordType::Major, 44100.0 },
            ChordCase { "C4", ChordType::Major, 44100.0 },
            ChordCase { "C2", ChordType::Octave, 44100.0 },
            ChordCase { "C4", ChordType::Fifth, 44100.0 },
            ChordCase { "F#3", ChordType::Minor, 48000.0 },
            ChordCase { "C2", ChordType::Fifth, 22050.0 },
            ChordCase { "C4", ChordType::Octave, 8000.0 }));

    // A chord is made at once at any rate the readers accept, a voice declaring a billion samples
    // a second included: nothing about it is measured over a time that grows with the rate.
    TEST(ChordSound, IsMadeAtOnceAtAnyRate)
    {
        for (const double rate : { 1.0, 8.0, 44100.0, 1073741823.0 }) {
            ChordSound chord(rate, defaultChordRoot, ChordType::Minor);
            std::vector<double> block(64, 0.0);
            chord.render(block);
            for (const double sample : block)
                EXPECT_TRUE(std::isfinite(sample)) << rate << " Hz";
        }
    }

    // A single saw high up, where every harmonic a naive saw folds back lands between harmonics.
    struct SawCase {
        double hertz;
        double rate;
    };

    class SawSpectrum : public ::testing::TestWithParam<SawCase> { };

    TEST_P(SawSpectrum, HasNothingBetweenItsHarmonicsAboveMinus80Decibels)
    {
        const SawCase c = GetParam();
        BandLimitedSaw saw(c.hertz / c.rate);
        const auto samples = settled(c.rate, [&](std::vector<double>& s) { saw.addTo(s, 1.0); });
        const auto spectrum = test::magnitudeSpectrum(samples, fftSize);
        EXPECT_LE(
            test::largestOffHarmonicDecibels(spectrum, { c.hertz / c.rate * fftSize }, 6.0), -80.0);
    }

    INSTANTIATE_TEST_SUITE_P(HighNotes, SawSpectrum,
        ::testing::Values(SawCase { 1234.5, 44100.0 }, SawCase { 3111.0, 44100.0 },
            SawCase { 7000.0, 48000.0 }, SawCase { 440.0, 8000.0 }));

} // namespace
} // namespace lumivox::engine
