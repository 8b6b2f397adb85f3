#pragma once

#include <QSize>
#include <QString>

namespace lumivox::app {

// What the window keeps across runs of the program (in the user's settings): the folder its file
// choosers last used and the window's size. Paths and sliders are not kept.
QString rememberedFolder(); // empty when none is known
void rememberFolder(const QString& folder);
QSize rememberedWindowSize(); // invalid when none is known
void rememberWindowSize(QSize size);

} // namespace lumivox::app
