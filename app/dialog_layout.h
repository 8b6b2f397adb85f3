#pragma once

#include "dialog_template.h"

#include <QRect>
#include <QSize>
#include <vector>

class QFontMetrics;

namespace lumivox::app {

// The size of one dialog base unit in pixels for the window's font: a dialog unit is a quarter of
// the average character width across and an eighth of the character height down.
struct DialogUnits {
    int averageCharWidth;
    int charHeight;
};

DialogUnits dialogUnitsOf(const QFontMetrics& metrics);
QRect toPixels(DialogUnits units, int x, int y, int width, int height);

struct PlacedControl {
    ControlTemplate control;
    QRect rect;
};

// The value shown right of a slider.
struct SliderReadout {
    int sliderId;
    QRect rect;
};

// Pixel places of every control, in template order, of the slider readouts and of the band meter
// panel below the template's controls, and the smallest size of the window's inside that shows
// them all. A larger window gives its extra width and height to the meter panel.
struct DialogLayout {
    std::vector<PlacedControl> controls;
    std::vector<SliderReadout> readouts;
    QRect meterPanel;
    QSize clientSize;
};

// Converts the template to pixels. A label whose text is wider than its template box is given
// the room; if it would then reach the control to its right, everything right of the label column
// moves right by the same amount (controls spanning the column grow) so that rows stay aligned.
// Labels take the height of the box they name, so that their text is centred on it; the notice
// spans the window's width in two lines, for the status line.
DialogLayout layOutDialog(const QFontMetrics& metrics);

} // namespace lumivox::app
