#pragma once

#include "file_choosers.h"

#include <QSize>
#include <QString>
#include <memory>

class QSettings;

namespace lumivox::app {

// What the window keeps across runs of the program (in the user's settings): the folder each file
// chooser last used and the window's size. Paths and sliders are not kept.
QString rememberedFolder(FileChooserKind kind); // empty when none is known
void rememberFolder(FileChooserKind kind, const QString& folder);
QSize rememberedWindowSize(); // invalid when none is known
void rememberWindowSize(QSize size);

// The user's settings file, or null when something other than a regular file stands at its
// place (a FIFO would block the window's start for ever, a device or folder is not ours to write
// over): the window then starts with its defaults, keeps nothing, and says why once on stderr.
std::unique_ptr<QSettings> openSettings();

// A remembered size made to fit where the window opens: no larger than the screen's available
// area (the size may come from a bigger monitor), and no smaller than the window's minimum size,
// which wins on a screen too small for it. An empty available area bounds nothing.
QSize fittedWindowSize(QSize remembered, QSize minimum, QSize available);

} // namespace lumivox::app
