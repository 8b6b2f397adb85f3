#include "file_choosers.h"

#include <QFileDialog>
#include <gtest/gtest.h>

namespace lumivox::app {
namespace {

    const QStringList waveFilters { "Wave Files (*.wav)", "All Files (*.*)" };
    const QStringList audioFilters {
        "Audio files (*.wav *.flac *.ogg *.opus *.mp3 *.aif *.aiff *.aifc *.w64 *.rf64)",
        "All Files (*.*)"
    };

    TEST(FileChooser, OpenChoosersWantAnExistingAudioFile)
    {
        const std::pair<FileChooserKind, const char*> choosers[]
            = { { FileChooserKind::Carrier, "Select a Carrier File" },
                  { FileChooserKind::Modulator, "Select a Modulator File" } };
        for (const auto& [kind, title] : choosers) {
            QFileDialog dialog;
            configureFileDialog(dialog, kind);
            EXPECT_EQ(dialog.windowTitle(), title);
            EXPECT_EQ(dialog.nameFilters(), audioFilters);
            EXPECT_EQ(dialog.selectedNameFilter(), audioFilters.front());
            EXPECT_EQ(dialog.defaultSuffix(), "wav");
            EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
            EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
        }
    }

    TEST(FileChooser, TheOutputChooserSavesAndAsksBeforeReplacing)
    {
        QFileDialog dialog;
        configureFileDialog(dialog, FileChooserKind::Output);
        EXPECT_EQ(dialog.windowTitle(), "Select an Output File");
        EXPECT_EQ(dialog.nameFilters(), waveFilters);
        EXPECT_EQ(dialog.defaultSuffix(), "wav");
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_NE(dialog.fileMode(), QFileDialog::ExistingFile);
    }

} // namespace
} // namespace lumivox::app
