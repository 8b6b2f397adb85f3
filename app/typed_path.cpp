#include "typed_path.h"

#include <QDir>
#include <QFileInfo>

namespace lumivox::app {

namespace {
    bool isFullPath(const QString& path) { return path.startsWith(QLatin1Char('/')); }

    QString folderOf(const QString& fullPath) { return QFileInfo(fullPath).path(); }

    // A relative path joined to its folder; a leading "./" adds nothing but noise to what the
    // status line shows.
    QString resolvedIn(const QString& path, const QString& folder)
    {
        if (path.isEmpty() || isFullPath(path))
            return path;
        QString relative = path;
        while (relative.startsWith(QStringLiteral("./")))
            relative.remove(0, 2);
        if (relative.isEmpty() || relative == QStringLiteral("."))
            return folder;
        return QDir(folder).filePath(relative);
    }
}

QString expandedHome(const QString& typed, const QString& homeFolder)
{
    if (typed == QStringLiteral("~"))
        return homeFolder;
    if (typed.startsWith(QStringLiteral("~/")))
        return homeFolder + typed.mid(1);
    return typed;
}

BoxPaths resolvedBoxPaths(const BoxPaths& typed, const QString& homeFolder,
    const QString& carrierChooserFolder, const QString& modulatorChooserFolder)
{
    const auto orHome
        = [&](const QString& folder) { return folder.isEmpty() ? homeFolder : folder; };
    const QString carrier = expandedHome(typed.carrier, homeFolder);
    const QString modulator = expandedHome(typed.modulator, homeFolder);
    BoxPaths resolved;
    resolved.carrier = resolvedIn(
        carrier, isFullPath(modulator) ? folderOf(modulator) : orHome(carrierChooserFolder));
    resolved.modulator = resolvedIn(
        modulator, isFullPath(carrier) ? folderOf(carrier) : orHome(modulatorChooserFolder));
    const QString outputFolder = resolved.modulator.isEmpty() ? orHome(modulatorChooserFolder)
                                                              : folderOf(resolved.modulator);
    resolved.output = resolvedIn(expandedHome(typed.output, homeFolder), outputFolder);
    return resolved;
}

} // namespace lumivox::app
