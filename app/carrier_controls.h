#pragma once

#include "job/job_settings.h"

#include <QString>
#include <QStringList>

namespace lumivox::app {

// What the carrier's drop-downs offer, in their order: the drop-down's index is the value.
QStringList carrierKindNames(); // "File", "Chord", "Noise", "Follow the voice"
QStringList chordTypeNames(); // "Major", "Minor", "Fifth", "Octave"

// Which of the carrier's controls a carrier kind uses: the path box, its Browse and the repeat
// box for a file, the root and the type for a chord, the interval for a sound following the voice.
struct CarrierControlUse {
    bool file = false;
    bool chord = false;
    bool interval = false;
};
CarrierControlUse controlsUsedBy(job::CarrierKind kind);

// The carrier choice kept across runs of the program, in the same settings as the folders;
// anything missing or out of range there reads as its default.
job::CarrierChoice rememberedCarrierChoice();
void rememberCarrierChoice(const job::CarrierChoice& choice);

} // namespace lumivox::app
