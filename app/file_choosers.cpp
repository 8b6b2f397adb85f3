#include "file_choosers.h"

#include "window_memory.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace lumivox::app {

QString chooserTitle(FileChooserKind kind)
{
    switch (kind) {
    case FileChooserKind::Carrier:
        return QStringLiteral("Select a Carrier File");
    case FileChooserKind::Modulator:
        return QStringLiteral("Select a Modulator File");
    case FileChooserKind::Output:
        break;
    }
    return QStringLiteral("Select an Output File");
}

void configureFileDialog(QFileDialog& dialog, FileChooserKind kind)
{
    dialog.setWindowTitle(chooserTitle(kind));
    // The inputs may be any recording that is read; the output is always a wave file.
    const QString shown = kind == FileChooserKind::Output
        ? QStringLiteral("Wave Files (*.wav)")
        : QStringLiteral(
            "Audio files (*.wav *.flac *.ogg *.opus *.mp3 *.aif *.aiff *.aifc *.w64 *.rf64)");
    dialog.setNameFilters({ shown, QStringLiteral("All Files (*.*)") });
    dialog.selectNameFilter(shown);
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    // Each chooser opens where it last chose a file, also after a restart; a chooser that has
    // none opens in the home folder, not where another chooser of this process last went.
    if (const QString folder = rememberedFolder(kind);
        !folder.isEmpty() && QFileInfo(folder).isDir())
        dialog.setDirectory(folder);
    else
        dialog.setDirectory(QDir::homePath());
    if (kind == FileChooserKind::Output) {
        // Saving asks before replacing an existing file (QFileDialog's default).
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
}

std::optional<QString> runFileDialog(QWidget* parent, FileChooserKind kind)
{
    QFileDialog dialog(parent);
    configureFileDialog(dialog, kind);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty())
        return std::nullopt;
    return chosen.front();
}

} // namespace lumivox::app
