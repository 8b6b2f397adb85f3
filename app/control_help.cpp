#include "control_help.h"

#include "band_controls.h"
#include "control_ids.h"

#include <cmath>

namespace lumivox::app {

namespace id = app::control;

QString controlToolTip(int controlId)
{
    switch (controlId) {
    case id::carrierPath:
        return QStringLiteral("The carrier is the sound that gets shaped, such as a synthesizer "
                              "chord or noise: a wave file.");
    case id::carrierBrowse:
        return QStringLiteral("Choose the carrier, the sound that gets shaped.");
    case id::modulatorPath:
        return QStringLiteral("The modulator is the sound whose band levels shape the carrier, "
                              "usually a voice: a wave file.");
    case id::modulatorBrowse:
        return QStringLiteral(
            "Choose the modulator, the sound whose band levels shape the carrier.");
    case id::outputPath:
        return QStringLiteral("The wave file Vocode writes the result to; Preview only plays it.");
    case id::outputBrowse:
        return QStringLiteral("Choose the wave file Vocode writes the result to.");
    case id::clearanceLabel:
    case id::clearanceSlider:
        return QStringLiteral("Instrument Clearance pulls every band toward the average of all "
                              "bands, letting more of the carrier through unshaped.");
    case id::vaguenessLabel:
    case id::vaguenessSlider:
        return QStringLiteral("Vagueness blurs each band's level with its neighbours, softening "
                              "the modulator's detail.");
    case id::gainLabel:
    case id::gainSlider:
        return QStringLiteral("Output Gain scales the result from 0 to 2 times; lower it when "
                              "samples clip.");
    case id::normalize:
        return QStringLiteral("Vocode brings the output file's peak to -1 dBFS, whatever Output "
                              "Gain says; Preview is not normalized.");
    case id::clarityLabel:
    case id::claritySlider:
        return QStringLiteral("Clarity lets consonants such as s, t, f and sh through, so that "
                              "the words come through more clearly. With Speech or Custom bands it "
                              "also evens out a noisy carrier's bands and starts each syllable in "
                              "every band at once.");
    case id::carrierKind:
        return QStringLiteral("Where the carrier comes from: a wave file, or a chord, noise or a "
                              "tone following the voice's pitch, made as long as the modulator.");
    case id::carrierSoundLabel:
        return QStringLiteral("What the built-in carrier sound needs, and whether a carrier file "
                              "repeats.");
    case id::chordRoot:
        return QStringLiteral("The chord's lowest note, from C2 to C4.");
    case id::chordType:
        return QStringLiteral("The chord's notes above its root: a major or minor triad, a fifth "
                              "or an octave.");
    case id::followInterval:
        return QStringLiteral("How many semitones above (or below) the voice's pitch the carrier "
                              "sings.");
    case id::bandsLabel:
    case id::bandsKind:
        return bandLayoutHelp();
    case id::bandCount:
        return QStringLiteral(
            "How many bands, from 4 to 64: fewer blur the words, more ring longer "
            "and take more time.");
    case id::bandLowHz:
        return QStringLiteral("Where the lowest band starts. Below about 100 Hz a voice has little "
                              "to say; a lower start adds rumble.");
    case id::bandHighHz:
        return QStringLiteral("Where the highest band ends, at most 0.46 times the files' sample "
                              "rate; above about 8 kHz a voice adds little but hiss.");
    case id::repeatCarrier:
        return QStringLiteral("A carrier file shorter than the modulator plays again from its "
                              "start, crossfaded, so the result is as long as the modulator.");
    case id::vocodeButton:
        return QStringLiteral("Vocode the carrier with the modulator into the output file.");
    case id::previewButton:
        return QStringLiteral("Play the vocoded sound without writing a file.");
    case id::liveButton:
        return QStringLiteral("Vocode the microphone as you speak and play the result (through "
                              "JACK when a JACK server runs).");
    case id::recordLive:
        return QStringLiteral("While playing live, also record what is played to the output file.");
    default:
        break;
    }
    return {};
}

QString controlAccessibleName(int controlId)
{
    switch (controlId) {
    case id::carrierPath:
        return QStringLiteral("Carrier File");
    case id::carrierBrowse:
        return QStringLiteral("Browse for the carrier file");
    case id::modulatorPath:
        return QStringLiteral("Modulator File");
    case id::modulatorBrowse:
        return QStringLiteral("Browse for the modulator file");
    case id::outputPath:
        return QStringLiteral("Output File");
    case id::outputBrowse:
        return QStringLiteral("Browse for the output file");
    case id::clearanceLabel:
    case id::clearanceSlider:
        return QStringLiteral("Instrument Clearance");
    case id::vaguenessSlider:
        return QStringLiteral("Vagueness");
    case id::gainSlider:
        return QStringLiteral("Output Gain");
    case id::claritySlider:
        return QStringLiteral("Clarity");
    case id::carrierKind:
        return QStringLiteral("Carrier");
    case id::chordRoot:
        return QStringLiteral("Chord root note");
    case id::chordType:
        return QStringLiteral("Chord type");
    case id::followInterval:
        return QStringLiteral("Interval above the voice");
    case id::bandsKind:
        return QStringLiteral("Bands");
    case id::bandCount:
        return QStringLiteral("Band count");
    case id::bandLowHz:
        return QStringLiteral("Lowest band's start");
    case id::bandHighHz:
        return QStringLiteral("Highest band's end");
    case id::progressBar:
        return QStringLiteral("Progress");
    case id::notice:
        return QStringLiteral("Status");
    default:
        break;
    }
    return {};
}

QString sliderReadoutText(int sliderId, int position)
{
    if (sliderId == id::gainSlider) {
        const double gain = position / 50.0;
        return QStringLiteral("%1× (%2)").arg(gain, 0, 'f', 2).arg(decibelText(gain));
    }
    return QStringLiteral("%1 %").arg(position);
}

QString decibelText(double ratio, const QString& unit)
{
    if (!(ratio > 0.0))
        return QStringLiteral("−∞ ") + unit;
    // Rounded first, so that a level just under 1 reads 0.0 rather than −0.0.
    const double tenths = std::round(200.0 * std::log10(ratio));
    const double decibels = tenths / 10.0;
    const QString sign = tenths > 0.0 ? QStringLiteral("+")
        : tenths < 0.0                ? QStringLiteral("−")
                                      : QString();
    return sign + QString::number(std::abs(decibels), 'f', 1) + QLatin1Char(' ') + unit;
}

} // namespace lumivox::app
