#include "window_memory.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <cstdio>

namespace lumivox::app {

namespace {
    QString folderKey(FileChooserKind kind)
    {
        switch (kind) {
        case FileChooserKind::Carrier:
            return QStringLiteral("carrierFolder");
        case FileChooserKind::Modulator:
            return QStringLiteral("modulatorFolder");
        case FileChooserKind::Output:
            break;
        }
        return QStringLiteral("outputFolder");
    }
}

std::unique_ptr<QSettings> openSettings()
{
    // QSettings also reads the organisation's file and the system's copies of both: any of them
    // that is not a regular file would block or fail the same way.
    QStringList read;
    for (const QString& folder :
        QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        read << folder + QStringLiteral("/Lumivox/lumivox.conf")
             << folder + QStringLiteral("/Lumivox.conf");
    }
    for (const QString& path : read) {
        const QFileInfo file(path);
        if (!file.exists() || file.isFile())
            continue;
        static bool told = false;
        if (!told) {
            told = true;
            std::fprintf(stderr,
                "lumivox: %s is not a regular file; the window starts with its defaults and "
                "keeps nothing for the next start\n",
                QFile::encodeName(path).constData());
            std::fflush(stderr);
        }
        return nullptr;
    }
    // Named here rather than taken from the application object, so that every window of the
    // program (and its tests) reads the same file.
    return std::make_unique<QSettings>(QStringLiteral("Lumivox"), QStringLiteral("lumivox"));
}

QString rememberedFolder(FileChooserKind kind)
{
    const auto settings = openSettings();
    if (!settings)
        return {};
    // Before each chooser had its own, all three shared this one.
    return settings->value(folderKey(kind), settings->value(QStringLiteral("lastFolder")))
        .toString();
}

void rememberFolder(FileChooserKind kind, const QString& folder)
{
    if (const auto settings = openSettings())
        settings->setValue(folderKey(kind), folder);
}

QSize rememberedWindowSize()
{
    const auto settings = openSettings();
    return settings ? settings->value(QStringLiteral("windowSize")).toSize() : QSize();
}

void rememberWindowSize(QSize size)
{
    if (const auto settings = openSettings())
        settings->setValue(QStringLiteral("windowSize"), size);
}

QSize fittedWindowSize(QSize remembered, QSize minimum, QSize available)
{
    if (!available.isEmpty())
        remembered = remembered.boundedTo(available);
    return remembered.expandedTo(minimum);
}

} // namespace lumivox::app
