#include "window_memory.h"

#include <QSettings>

namespace lumivox::app {

namespace {
    // Named here rather than taken from the application object, so that every window of the
    // program (and its tests) reads the same file.
    QSettings settings() { return QSettings(QStringLiteral("Lumivox"), QStringLiteral("lumivox")); }
}

QString rememberedFolder() { return settings().value(QStringLiteral("lastFolder")).toString(); }

void rememberFolder(const QString& folder)
{
    settings().setValue(QStringLiteral("lastFolder"), folder);
}

QSize rememberedWindowSize() { return settings().value(QStringLiteral("windowSize")).toSize(); }

void rememberWindowSize(QSize size) { settings().setValue(QStringLiteral("windowSize"), size); }

QSize fittedWindowSize(QSize remembered, QSize minimum, QSize available)
{
    if (!available.isEmpty())
        remembered = remembered.boundedTo(available);
    return remembered.expandedTo(minimum);
}

} // namespace lumivox::app
