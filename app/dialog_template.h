#pragma once

#include <array>
#include <span>

namespace lumivox::app {

// What kind of widget a control of the main window is.
enum class ControlRole {
    Label,
    PathEdit,
    PushButton,
    Slider,
    ProgressBar,
    DropDown,
    NumberBox,
    CheckBox
};

// One control of the main window as the dialog template gives it.
struct ControlTemplate {
    int id;
    ControlRole role;
    const char* text;
};

inline constexpr const char* windowCaption = "Lumivox";

// The controls in template order, which is also the tab order.
std::span<const ControlTemplate> dialogTemplate();

inline constexpr int noControl = -1;

// One row of the window's grid: a label in the left column, the controls it names left to right
// in the middle column (path boxes and sliders take the spare width), and at the right edge a
// button, or for a slider its readout. Places left empty hold noControl.
struct GridRow {
    int labelId;
    std::array<int, 4> middleIds;
    int rightId;
};

// The rows from the top; the progress bar, the status line and the band meters follow them
// across the whole width.
std::span<const GridRow> gridRows();

} // namespace lumivox::app
