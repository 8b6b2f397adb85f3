#include "band_limited_saw.h"
#include "chord_sound.h"
#include "spectrum.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <string>
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

    // The power a chord puts into the bands from 1 to 3.5 kHz, in decibels: wide enough that a
    // partial more or less at an edge moves it little.
    double bandDecibels(const std::vector<double>& spectrum, double rate)
    {
        const auto first = static_cast<std::size_t>(1000.0 / rate * fftSize);
        const auto last = std::min(static_cast<std::size_t>(3500.0 / rate * fftSize), fftSize / 2);
        double energy = 0.0;
        for (std::size_t b = first; b <= last; ++b)
            energy += spectrum[b] * spectrum[b];
        return 10.0 * std::log10(energy);
    }

    // A band of the vocoder gets 3.75 dB more from a chord for every octave its root is above C3
    // (the same type at C3 the reference): the 3 dB a saw at a fixed gain adds by filling the band
    // more densely, and 0.75 dB more as each note's gain rises by the eighth root of its pitch.
    TEST_P(ChordSpectrum, PutsIntoABandThreeAndThreeQuarterDecibelsMoreAnOctaveUp)
    {
        const ChordCase c = GetParam();
        const int root = *parseNoteName(c.root);
        ChordSound chord(c.rate, root, c.type);
        const auto samples = settled(c.rate, [&](std::vector<double>& s) { chord.render(s); });
        ChordSound reference(c.rate, defaultChordRoot, c.type);
        const auto referenceSamples
            = settled(c.rate, [&](std::vector<double>& s) { reference.render(s); });
        const double octaves = (root - defaultChordRoot) / 12.0;
        // An octave's upper note falls on the root's even partials, a quarter cycle apart, so
        // how much they add depends on which of them the band holds.
        const double tolerance = c.type == ChordType::Octave ? 2.0 : 0.6;
        EXPECT_NEAR(bandDecibels(test::magnitudeSpectrum(samples, fftSize), c.rate)
                - bandDecibels(test::magnitudeSpectrum(referenceSamples, fftSize), c.rate),
            3.75 * octaves, tolerance)
            << c.root << " " << chordTypeName(c.type);
    }

    // The energy of the window's main lobe around a bin, which holds a partial wherever it falls
    // between bins.
    double lobeLevel(const std::vector<double>& spectrum, double bin)
    {
        const auto centre = static_cast<std::size_t>(std::lround(bin));
        double energy = 0.0;
        for (std::size_t b = centre - 4; b <= centre + 4; ++b)
            energy += spectrum[b] * spectrum[b];
        return std::sqrt(energy);
    }

    // Each note keeps a quarter of its fundamental and half of its second partial, against a plain
    // saw at the same pitch and gain; partials another note's harmonics meet are left out.
    TEST_P(ChordSpectrum, KeepsAQuarterOfEachFundamentalAndHalfOfEachSecondPartial)
    {
        const ChordCase c = GetParam();
        const int root = *parseNoteName(c.root);
        ChordSound chord(c.rate, root, c.type);
        const auto spectrum = test::magnitudeSpectrum(
            settled(c.rate, [&](std::vector<double>& s) { chord.render(s); }), fftSize);
        const std::vector<int> intervals = chordIntervals(c.type);
        int measured = 0;
        for (const int interval : intervals) {
            const double hertz = noteHertz(root + interval);
            BandLimitedSaw saw(hertz / c.rate);
            const auto plain = test::magnitudeSpectrum(
                settled(c.rate, [&](std::vector<double>& s) { saw.addTo(s, chord.noteGain()); }),
                fftSize);
            for (const int k : { 1, 2 }) {
                const double bin = k * hertz / c.rate * fftSize;
                bool shared = false;
                for (const int other : intervals) {
                    if (other == interval)
                        continue;
                    const double step = noteHertz(root + other) / c.rate * fftSize;
                    const double nearest = std::max(1.0, std::round(bin / step)) * step;
                    shared = shared || std::abs(nearest - bin) < 12.0;
                }
                if (shared)
                    continue;
                ++measured;
                EXPECT_NEAR(20.0 * std::log10(lobeLevel(spectrum, bin) / lobeLevel(plain, bin)),
                    20.0 * std::log10(k == 1 ? 0.25 : 0.5), 0.2)
                    << noteName(root + interval) << " partial " << k;
            }
        }
        EXPECT_GT(measured, 0);
    }

    // Every note of a chord at the same level, whatever its pitch.
    TEST_P(ChordSpectrum, GivesEveryNoteTheSameLevel)
    {
        const ChordCase c = GetParam();
        const int root = *parseNoteName(c.root);
        ChordSound chord(c.rate, root, c.type);
        const auto samples = settled(c.rate, [&](std::vector<double>& s) { chord.render(s); });

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

    // The loudest a voice can make a chord: a steady tone at -6 dBFS, a voice's loudest harmonic
    // at the level of a loud recording, right on the pitch of the chord's top note, where the
    // chord holds its strongest partial, so that one band carries the whole output. Vocoded at
    // the default settings (gain 1, nothing else), every root and type stays below -1 dBFS.
    TEST(ChordSound, VocodesALoudVoiceHarmonicOnItsStrongestPartialBelowFullScale)
    {
        constexpr double rate = 44100.0;
        constexpr std::size_t frames = 44100;
        double loudest = 0.0;
        std::string where;
        for (const ChordType type :
            { ChordType::Major, ChordType::Minor, ChordType::Fifth, ChordType::Octave }) {
            for (int root = lowestChordRoot; root <= highestChordRoot; root += 2) {
                ChordSound chord(rate, root, type);
                std::vector<double> carrier(frames, 0.0);
                chord.render(carrier);
                const double tone = noteHertz(root + chordIntervals(type).back()) / rate;
                VocoderEngine engine;
                engine.buildFilterBank();
                double peak = 0.0;
                for (std::size_t n = 0; n < frames; ++n) {
                    const double voice
                        = 0.5 * std::sin(2.0 * std::numbers::pi * tone * static_cast<double>(n));
                    const double out = engine.processSample(carrier[n], voice);
                    if (n >= frames / 4)
                        peak = std::max(peak, std::abs(out));
                }
                if (peak > loudest) {
                    loudest = peak;
                    where = noteName(root) + " " + std::string(chordTypeName(type));
                }
            }
        }
        EXPECT_LT(20.0 * std::log10(loudest), -1.0) << "at " << where;
    }

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
