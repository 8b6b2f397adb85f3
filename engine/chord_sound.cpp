#include "chord_sound.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace lumivox::engine {

namespace {
    constexpr std::array<std::string_view, 4> typeNames { "major", "minor", "fifth", "octave" };
    constexpr std::array<std::string_view, 12> sharpNames { "C", "C#", "D", "D#", "E", "F", "F#",
        "G", "G#", "A", "A#", "B" };
    constexpr std::array<int, 7> letterSemitones { 9, 11, 0, 2, 4, 5, 7 }; // A to G
    // How much of each note's first and second partials the chord keeps: a voice whose energy
    // sits in one narrow band would otherwise follow whether a note's strong fundamental lands
    // there.
    constexpr std::array<double, 2> keptLow { 0.25, 0.5 };
} // namespace

std::optional<int> parseNoteName(std::string_view name)
{
    if (name.size() < 2)
        return std::nullopt;
    const char letter = static_cast<char>(name[0] | 0x20); // either case
    if (letter < 'a' || letter > 'g')
        return std::nullopt;
    int semitone = letterSemitones[static_cast<std::size_t>(letter - 'a')];
    std::size_t at = 1;
    if (name[at] == '#') {
        ++semitone;
        ++at;
    } else if (name[at] == 'b') {
        --semitone;
        ++at;
    }
    if (at + 1 != name.size() || name[at] < '0' || name[at] > '9')
        return std::nullopt;
    const int octave = name[at] - '0';
    return 12 * (octave + 1) + semitone;
}

std::string noteName(int midiNote)
{
    const int octave = midiNote / 12 - 1;
    return std::string(sharpNames[static_cast<std::size_t>(midiNote % 12)])
        + std::to_string(octave);
}

std::optional<ChordType> parseChordType(std::string_view name)
{
    // In either case, as the note names are: "Minor" and "MINOR" are minor.
    const auto sameLetters = [](std::string_view a, std::string_view b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return (x >= 'A' && x <= 'Z' ? static_cast<char>(x | 0x20) : x) == y;
        });
    };
    for (std::size_t i = 0; i < typeNames.size(); ++i) {
        if (sameLetters(name, typeNames[i]))
            return static_cast<ChordType>(i);
    }
    return std::nullopt;
}

std::string_view chordTypeName(ChordType type) { return typeNames[static_cast<std::size_t>(type)]; }

std::vector<int> chordIntervals(ChordType type)
{
    switch (type) {
    case ChordType::Major:
        return { 0, 4, 7 };
    case ChordType::Minor:
        return { 0, 3, 7 };
    case ChordType::Fifth:
        return { 0, 7 };
    case ChordType::Octave:
        return { 0, 12 };
    }
    return { 0 };
}

double noteHertz(int midiNote) { return 440.0 * std::exp2((midiNote - 69) / 12.0); }

ChordSound::ChordSound(double sampleRate, int rootNote, ChordType type)
{
    const int root = std::clamp(rootNote, lowestChordRoot, highestChordRoot);
    // The notes start a quarter cycle apart: in phase, an octave's upper saw would cancel half of
    // every partial of the lower one that it meets.
    constexpr std::array<double, 3> startCycles { 0.5, 0.25, 0.75 };
    std::size_t note = 0;
    for (const int interval : chordIntervals(type)) {
        const double start = startCycles[note++ % 3];
        saws.emplace_back(noteHertz(root + interval) / sampleRate, start);
        const BandLimitedSaw& saw = saws.back();
        for (std::size_t k = 1; k <= keptLow.size(); ++k) {
            const std::complex<double> h = saw.harmonic(static_cast<int>(k));
            partials.push_back({ start * k - std::floor(start * k), saw.frequency() * k,
                (1.0 - keptLow[k - 1]) * std::abs(h), std::arg(h) });
        }
    }

    // A saw's partials fall as 1/k, so a band the chord fills with partials holds a power in
    // proportion to the fundamental, while the peak of a voice in one or two low bands follows the
    // few partials that meet its harmonics. With the fundamentals and second partials thinned, the
    // notes rise by the eighth root of the root's pitch (0.75 dB an octave up, C3 the reference)
    // and fall by the square root of their count so that their powers add to the same total.
    // Nothing is measured: the gain is known at any rate.
    const double notes = static_cast<double>(saws.size());
    gain = levelAtC3 * std::pow(noteHertz(root) / noteHertz(defaultChordRoot), 0.125)
        / std::sqrt(notes);
}

void ChordSound::render(std::span<double> out)
{
    // Note by note within each sample, so that the notes' recurrences overlap in the processor.
    for (double& sample : out) {
        double sum = 0.0;
        for (BandLimitedSaw& saw : saws)
            sum += saw.next();
        for (Partial& p : partials) {
            sum -= p.amplitude * std::cos(2.0 * std::numbers::pi * p.cycles + p.radians);
            p.cycles += p.step;
            p.cycles -= std::floor(p.cycles);
        }
        sample = gain * sum;
    }
}

} // namespace lumivox::engine
