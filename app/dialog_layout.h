#pragma once

#include "dialog_template.h"

#include <QSize>
#include <functional>

class QGridLayout;
class QWidget;

namespace lumivox::app {

// The parts of the main window the grid places, looked up by control id.
struct WindowParts {
    std::function<QWidget*(int controlId)> control; // null for an id the window lacks
    std::function<QWidget*(int sliderId)> readout; // the value shown right of a slider
    QWidget* statusIcon; // left of the status line, shown with a warning
    QWidget* meter; // the band meter panel
};

// Puts the window's controls into a grid on the window: labels share one left margin with the
// progress bar, the status line and the meters; path boxes and sliders take the spare width;
// buttons and readouts on the right share one right edge; the grid's rows are all as tall as the
// tallest, so they stand evenly apart; the meter panel takes the spare height. The window's
// least size is the grid's.
QGridLayout* layOutWindow(QWidget& window, const WindowParts& parts);

// The size a window opens at before it has one of its own: a little roomier than the least
// size, within the screen's available area when there is one.
QSize openingSize(QSize leastSize, QSize availableArea);

} // namespace lumivox::app
