#pragma once

#include <QString>

namespace lumivox::app {

// A one-sentence tooltip saying what a control is for (a slider's label shares the slider's);
// empty for controls that need none.
QString controlToolTip(int controlId);

// The name a screen reader gives a control whose own text does not name it (a path box, a slider,
// one of three "Browse..." buttons); empty where the control's text is its name.
QString controlAccessibleName(int controlId);

// The readout right of a slider: "0 %"…"100 %" for Clearance, Vagueness and Clarity, "1.00× (0.0
// dB)" for Output Gain (the position / 50 the job applies, and the same in decibels).
QString sliderReadoutText(int sliderId, int position);

// A ratio of amplitudes in decibels with one decimal and a sign, as a level is read:
// "+6.0 dB", "0.0 dB", "−11.2 dB"; "−∞ dB" for nothing at all.
QString decibelText(double ratio, const QString& unit = QStringLiteral("dB"));

} // namespace lumivox::app
