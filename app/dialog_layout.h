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

// Pixel places of every control, in template order, and the size of the window's inside.
struct DialogLayout {
    std::vector<PlacedControl> controls;
    QSize clientSize;
};

// Converts the template to pixels. A label whose text is wider than its template box is given
// the room; if it would then reach the control to its right, everything right of the label column
// moves right by the same amount (controls spanning the column grow) so that rows stay aligned.
DialogLayout layOutDialog(const QFontMetrics& metrics);

} // namespace lumivox::app
