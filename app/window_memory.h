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

// A remembered size made to fit where the window opens: no larger than the screen's available
// area (the size may come from a bigger monitor), and no smaller than the window's minimum size,
// which wins on a screen too small for it. An empty available area bounds nothing.
QSize fittedWindowSize(QSize remembered, QSize minimum, QSize available);

} // namespace lumivox::app
