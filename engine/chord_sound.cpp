#include "chord_sound.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace lumivox::engine {

namespace {
    constexpr std::array<std::string_view, 4> typeNames { "major", "minor", "fifth", "octave" };
    constexpr std::array<std::string_view, 12> sharpNames { "C", "C#", "D", "D#", "E", "F", "F#",
        "G", "G#", "A", "A#", "B" };
    constexpr std::array<int, 7> letterSemitones { 9, 11, 0, 2, 4, 5, 7 }; // A to G
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
    for (std::size_t i = 0; i < typeNames.size(); ++i) {
        if (typeNames[i] == name)
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
    for (const int interval : chordIntervals(type))
        saws.emplace_back(noteHertz(root + interval) / sampleRate, startCycles[note++ % 3]);

    // The peak of the sum depends on how the notes' phases meet: measure it on copies over two
    // seconds, after the integrators' first half second, and scale the notes to the target.
    std::vector<BandLimitedSaw> trial = saws;
    std::vector<double> block(static_cast<std::size_t>(sampleRate / 4.0), 0.0);
    double peak = 0.0;
    for (int quarter = 0; quarter < 10; ++quarter) {
        std::fill(block.begin(), block.end(), 0.0);
        for (BandLimitedSaw& saw : trial)
            saw.addTo(block, 1.0);
        if (quarter < 2)
            continue;
        for (const double sample : block)
            peak = std::max(peak, std::abs(sample));
    }
    gain = peak > 0.0 ? targetPeak / peak : 0.0;
}

void ChordSound::render(std::span<double> out)
{
    // Note by note within each sample, so that the notes' recurrences overlap in the processor.
    for (double& sample : out) {
        double sum = 0.0;
        for (BandLimitedSaw& saw : saws)
            sum += saw.next();
        sample = gain * sum;
    }
}

} // namespace lumivox::engine
