#pragma once

#include <QString>

namespace lumivox::app {

// A one-sentence tooltip saying what a control is for; empty for controls that need none.
QString controlToolTip(int controlId);

// The name a screen reader gives a control whose own text does not name it (a path box, a slider,
// one of three "Browse..." buttons); empty where the control's text is its name.
QString controlAccessibleName(int controlId);

// The readout right of a slider: "0 %"…"100 %" for Clearance and Vagueness, "0.00×"…"2.00×" for
// Output Gain (the position / 50 the job applies).
QString sliderReadoutText(int sliderId, int position);

} // namespace lumivox::app
