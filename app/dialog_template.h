#pragma once

#include <span>

namespace lumivox::app {

// What kind of widget a control of the main window is.
enum class ControlRole { Label, PathEdit, PushButton, Slider, ProgressBar };

// One control of the main window as the dialog template gives it, in dialog units.
struct ControlTemplate {
    int id;
    ControlRole role;
    const char* text;
    int x, y, width, height;
};

inline constexpr const char* windowCaption = "Lumivox";
inline constexpr int dialogWidthUnits = 417;
inline constexpr int dialogHeightUnits = 261;

// Everything right of this column (in dialog units) moves together when a label needs more room.
inline constexpr int labelColumnEndUnits = 76;

// The controls in template order, which is also the tab order.
std::span<const ControlTemplate> dialogTemplate();

} // namespace lumivox::app
