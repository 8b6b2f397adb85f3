#pragma once

#include "band_limited_saw.h"
#include "carrier_sound.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivox::engine {

enum class ChordType { Major, Minor, Fifth, Octave };

// The roots a chord may have, as MIDI note numbers: C2 to C4 (middle C).
inline constexpr int lowestChordRoot = 36;
inline constexpr int highestChordRoot = 60;
inline constexpr int defaultChordRoot = 48; // C3

// Note names as "C3", "F#2" or "Bb2" (octave 4 holds middle C), and back (sharps only).
[[nodiscard]] std::optional<int> parseNoteName(std::string_view name);
[[nodiscard]] std::string noteName(int midiNote);
[[nodiscard]] std::optional<ChordType> parseChordType(std::string_view name);
[[nodiscard]] std::string_view chordTypeName(ChordType type); // "major", "minor", "fifth", "octave"

// The notes of a chord above its root, in semitones.
[[nodiscard]] std::vector<int> chordIntervals(ChordType type);
[[nodiscard]] double noteHertz(int midiNote); // equal temperament, A4 = 440 Hz

// Band-limited sawtooth waves, one per note of the chord, at equal loudness, scaled by the root's
// pitch and the count of notes so that no root or type stands out: ordinary speech vocoded on any
// of them at the default gain peaks below full scale.
class ChordSound final : public CarrierSound {
public:
    // The root is clamped to C2..C4.
    ChordSound(double sampleRate, int rootNote, ChordType type);
    void render(std::span<double> out) override;

    double noteGain() const { return gain; }

    // Each note's gain for a lone C3; a saw at gain 1 swings about +-1.85.
    static constexpr double levelAtC3 = 0.125;

private:
    // A partial of one note's saw, as the saw makes it: taken out of the saw in part.
    struct Partial {
        double cycles; // the phase, in [0, 1)
        double step; // in cycles per sample
        double amplitude; // of the part taken out
        double radians; // the saw's phase lead on this partial
    };
    std::vector<BandLimitedSaw> saws;
    std::vector<Partial> partials;
    double gain = 0.0;
};

} // namespace lumivox::engine
