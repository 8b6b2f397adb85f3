#pragma once

#include <QString>

namespace lumivox::app {

// What the three path boxes hold, as typed or as resolved.
struct BoxPaths {
    QString carrier; // empty when a built-in sound takes the carrier's place
    QString modulator;
    QString output; // empty for a preview
};

// A typed path with a leading "~" (alone or before a "/") replaced by the home folder, as a shell
// does; "~name" and a "~" further on stay as they are.
QString expandedHome(const QString& typed, const QString& homeFolder);

// Full paths for the boxes' texts. A relative path is taken from the folder where the files of the
// same piece of work are: the output from the modulator's folder (the voice is always named), an
// input from the other input's folder when that one is a full path, else from the folder its own
// chooser last used (inputFolders: carrier's, modulator's; the home folder when empty). Empty
// texts stay empty, so that the empty-box hints still apply.
BoxPaths resolvedBoxPaths(const BoxPaths& typed, const QString& homeFolder,
    const QString& carrierChooserFolder, const QString& modulatorChooserFolder);

} // namespace lumivox::app
