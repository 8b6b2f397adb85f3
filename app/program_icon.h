#pragma once

#include <QIcon>

namespace lumivox::app {

// The program's own icon, from 16 to 256 pixels, drawn by resources/draw_icon.sh.
QIcon programIcon();

} // namespace lumivox::app
