#pragma once

#include <QString>
#include <functional>
#include <optional>

class QFileDialog;
class QWidget;

namespace lumivox::app {

// The three file choosers of the main window: two that open an existing file, one that saves.
enum class FileChooserKind { Carrier, Modulator, Output };

// Asks the user for a file; empty when cancelled. The window takes one of these so that tests
// can answer without a real dialog.
using FileChooser = std::function<std::optional<QString>(QWidget* parent, FileChooserKind kind)>;

QString chooserTitle(FileChooserKind kind);

// Titles, the two filters (audio files for the inputs, wave files for the output), the default
// suffix, the existence and overwrite checks and the folder last used.
void configureFileDialog(QFileDialog& dialog, FileChooserKind kind);

// Shows a configured modal QFileDialog.
std::optional<QString> runFileDialog(QWidget* parent, FileChooserKind kind);

} // namespace lumivox::app
