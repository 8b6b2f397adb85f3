#pragma once

#include "engine/block_path.h"
#include "engine/chord_sound.h"
#include "engine/layout_choice.h"

#include <optional>
#include <string>

namespace lumivox::job {

enum class JobMode { Vocode = 0, Preview = 1 };

// What the sliders say, each a position from 0 to 100; a Preview reads them again before each
// block, so that a move is heard.
struct SoundSettings {
    int clearance = 0;
    int vagueness = 0;
    int gain = 50; // 50 is 1x, 100 is 2x
    int clarity = 0; // 0 leaves every output bit as it would be without it
};

// Where the carrier comes from: the carrier file, or a sound the job makes as it goes, at the
// modulator's rate and as long as it.
enum class CarrierKind { File = 0, Chord = 1, Noise = 2, FollowVoice = 3 };

struct CarrierChoice {
    CarrierKind kind = CarrierKind::File;
    int chordRoot = engine::defaultChordRoot; // a MIDI note, C2 (36) to C4 (60)
    engine::ChordType chordType = engine::ChordType::Major;
    int followSemitones = 0; // the interval above (or below) the voice, -12 to +12
};

inline constexpr int lowestFollowInterval = -12;
inline constexpr int highestFollowInterval = 12;

// Everything one run needs, handed to the job as a value when it starts: the front end keeps its
// controls and the job keeps its copy.
struct JobSettings {
    JobMode mode = JobMode::Vocode;
    std::string carrierPath;
    std::string modulatorPath;
    std::string outputPath; // used by Vocode only
    SoundSettings sound;
    CarrierChoice carrier; // with a built-in sound, carrierPath is not used
    // A carrier file shorter than the modulator is played again from its start, crossfaded at
    // each seam, so that the output is as long as the modulator.
    bool repeatCarrier = false;
    // A Vocode's output brought to this peak, in dB below full scale (a preview is not).
    std::optional<double> normalizeDecibels;
    // How the engine runs, as the program chose at its start.
    engine::VectorChoice vectors;
    // The bands, designed at the output's rate when the run starts.
    engine::LayoutChoice bands;
};

inline constexpr double defaultNormalizeDecibels = -1.0;
// The peaks an output may be normalized to, in dBFS.
inline constexpr double lowestNormalizeDecibels = -60.0;
inline constexpr double highestNormalizeDecibels = 0.0;

} // namespace lumivox::job
