#include "app_test_support.h"
#include "band_meter.h"
#include "control_ids.h"
#include "dialog_layout.h"
#include "main_window.h"
#include "message_boxes.h"
#include "path_edit.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTextDocument>
#include <QToolTip>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <set>

namespace lumivox::app {
namespace {

    namespace id = app::control;
    using job::JobMode;
    using StartResult = job::JobThread::StartResult;
    using test::BoxAnswerer;
    using test::waitUntil;

    // A window whose job start, choosers and program end are recorded instead of carried out.
    struct RecordedWindow {
        RecordedWindow()
        {
            window.setJobStarter([this](job::JobSettings settings) {
                starts.push_back(settings.mode);
                startSettings.push_back(std::move(settings));
                return startResult;
            });
            window.setFileChooser([this](QWidget* parent, FileChooserKind kind) {
                chooserParents.push_back(parent);
                chooserKinds.push_back(kind);
                return chosenPath;
            });
            window.setQuitHandler([this](int exitCode) { exitCodes.push_back(exitCode); });
        }

        QLineEdit* edit(int controlId)
        {
            return static_cast<QLineEdit*>(window.control(controlId));
        }
        QPushButton* button(int controlId)
        {
            return static_cast<QPushButton*>(window.control(controlId));
        }
        QSlider* slider(int controlId) { return static_cast<QSlider*>(window.control(controlId)); }
        void fillPaths(const QString& carrier, const QString& modulator, const QString& output)
        {
            edit(id::carrierPath)->setText(carrier);
            edit(id::modulatorPath)->setText(modulator);
            edit(id::outputPath)->setText(output);
        }
        void showActive()
        {
            window.show();
            window.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        }

        MainWindow window;
        StartResult startResult = StartResult::Started;
        std::optional<QString> chosenPath;
        std::vector<JobMode> starts;
        std::vector<job::JobSettings> startSettings;
        std::vector<QWidget*> chooserParents;
        std::vector<FileChooserKind> chooserKinds;
        std::vector<int> exitCodes;
    };

    TEST(MainWindowStart, ShowsTheTemplateControlsWithTheirIdsAndTexts)
    {
        RecordedWindow recorded;
        MainWindow& window = recorded.window;
        EXPECT_EQ(window.windowTitle(), "Lumivox");
        const std::pair<int, const char*> labels[] = { { id::carrierLabel, "Carrier File" },
            { id::modulatorLabel, "Modulator File" }, { id::outputLabel, "Output File" },
            { id::clearanceLabel, "Instrument Clearance" }, { id::vaguenessLabel, "Vagueness" },
            { id::gainLabel, "Output Gain" }, { id::clarityLabel, "Clarity" },
            { id::carrierSoundLabel, "Carrier Sound" } };
        for (const auto& [controlId, text] : labels) {
            auto* label = qobject_cast<QLabel*>(window.control(controlId));
            ASSERT_NE(label, nullptr) << controlId;
            EXPECT_EQ(label->text(), text);
            EXPECT_EQ(label->objectName(), QString("control%1").arg(controlId));
        }
        EXPECT_FALSE(qobject_cast<QLabel*>(window.control(id::notice))->text().isEmpty());
        const std::pair<int, const char*> buttons[] = { { id::carrierBrowse, "Browse..." },
            { id::modulatorBrowse, "Browse..." }, { id::outputBrowse, "Browse..." },
            { id::vocodeButton, "Vocode" }, { id::previewButton, "Preview" },
            { id::liveButton, "Live" }, { id::aboutButton, "About" } };
        for (const auto& [controlId, text] : buttons) {
            auto* button = qobject_cast<QPushButton*>(window.control(controlId));
            ASSERT_NE(button, nullptr) << controlId;
            EXPECT_EQ(button->text(), text);
            EXPECT_TRUE(button->isEnabled());
        }
        for (int controlId : { id::carrierPath, id::modulatorPath, id::outputPath }) {
            auto* edit = qobject_cast<QLineEdit*>(window.control(controlId));
            ASSERT_NE(edit, nullptr) << controlId;
            EXPECT_TRUE(edit->text().isEmpty());
        }
        EXPECT_EQ(window.control(id::count), nullptr);
        EXPECT_EQ(window.control(99), nullptr);
    }

    TEST(MainWindowStart, SlidersRunFromZeroToHundredWithGainAtFifty)
    {
        RecordedWindow recorded;
        const std::pair<int, int> starts[] = { { id::clearanceSlider, 0 },
            { id::vaguenessSlider, 0 }, { id::gainSlider, 50 }, { id::claritySlider, 0 } };
        for (const auto& [controlId, position] : starts) {
            auto* slider = qobject_cast<QSlider*>(recorded.window.control(controlId));
            ASSERT_NE(slider, nullptr) << controlId;
            EXPECT_EQ(slider->orientation(), Qt::Horizontal);
            EXPECT_EQ(slider->minimum(), 0);
            EXPECT_EQ(slider->maximum(), 100);
            EXPECT_EQ(slider->value(), position);
            EXPECT_EQ(slider->tickPosition(), QSlider::NoTicks);
            EXPECT_EQ(recorded.window.sliderPosition(controlId), position);
        }
        auto* progress = qobject_cast<QProgressBar*>(recorded.window.control(id::progressBar));
        ASSERT_NE(progress, nullptr);
        EXPECT_EQ(progress->minimum(), 0);
        EXPECT_EQ(progress->maximum(), 100);
        EXPECT_EQ(progress->value(), 0);
    }

    TEST(MainWindowStart, TabOrderFollowsTheTemplateFromTheCarrierBox)
    {
        RecordedWindow recorded;
        recorded.showActive();
        // With a carrier file the built-in sound's settings are disabled and passed over, and so
        // are the custom bands' count and range with the classic bands.
        const int order[] = { id::carrierPath, id::carrierBrowse, id::repeatCarrier, id::bandsKind,
            id::modulatorPath, id::modulatorBrowse, id::outputPath, id::outputBrowse,
            id::clearanceSlider, id::vaguenessSlider, id::gainSlider, id::normalize,
            id::claritySlider, id::vocodeButton, id::previewButton, id::liveButton, id::recordLive,
            id::aboutButton, id::carrierKind, id::carrierPath };
        EXPECT_EQ(QApplication::focusWidget(), recorded.window.control(order[0]));
        for (std::size_t step = 1; step < std::size(order); ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), recorded.window.control(order[step]))
                << "step " << step;
        }
    }

    TEST(MainWindowStart, CarriesTheProgramIconInSmallAndLargeSizes)
    {
        RecordedWindow recorded;
        const QIcon icon = recorded.window.windowIcon();
        ASSERT_FALSE(icon.isNull());
        for (int size : { 16, 32, 256 }) {
            const QImage image = icon.pixmap(QSize(size, size)).toImage();
            EXPECT_EQ(image.size(), QSize(size, size));
            // Drawn, not blank: the tile's centre is opaque.
            EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
        }
    }

    TEST(MainWindowStart, VocodeIsTheDefaultButton)
    {
        RecordedWindow recorded;
        EXPECT_TRUE(recorded.button(id::vocodeButton)->isDefault());
        EXPECT_FALSE(recorded.button(id::previewButton)->isDefault());
    }

    TEST(MainWindowGeometry, OpensAtTheTopLeftRoomierThanItsLeastSize)
    {
        RecordedWindow recorded;
        MainWindow& window = recorded.window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        EXPECT_EQ(window.frameGeometry().topLeft(), window.screen()->availableGeometry().topLeft());
        EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_TRUE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(window.size(),
            openingSize(window.minimumSize(), window.screen()->availableGeometry().size()));
    }

    TEST(MainWindowKeyboard, EnterInAPathBoxOrOnASliderPressesVocode)
    {
        RecordedWindow recorded;
        recorded.fillPaths("/c.wav", "/m.wav", "/o.wav");
        recorded.showActive();
        QTest::keyClick(recorded.edit(id::modulatorPath), Qt::Key_Return);
        recorded.slider(id::vaguenessSlider)->setFocus();
        QTest::keyClick(recorded.slider(id::vaguenessSlider), Qt::Key_Enter);
        EXPECT_EQ(recorded.starts, (std::vector { JobMode::Vocode, JobMode::Vocode }));
    }

    TEST(MainWindowKeyboard, EnterOnAFocusedButtonPressesThatButton)
    {
        RecordedWindow recorded;
        recorded.fillPaths("/c.wav", "/m.wav", "");
        recorded.showActive();
        recorded.button(id::previewButton)->setFocus();
        QTest::keyClick(recorded.button(id::previewButton), Qt::Key_Return);
        EXPECT_EQ(recorded.starts, std::vector { JobMode::Preview });
    }

    TEST(MainWindowStartJob, EmptyBoxesAreRefusedSilently)
    {
        RecordedWindow recorded;
        BoxAnswerer answerer;
        const struct {
            const char *carrier, *modulator, *output;
            int command;
        } refused[] = { { "", "/m.wav", "/o.wav", id::vocodeButton },
            { "/c.wav", "", "/o.wav", id::vocodeButton },
            { "/c.wav", "/m.wav", "", id::vocodeButton },
            { "", "/m.wav", "/o.wav", id::previewButton },
            { "/c.wav", "", "/o.wav", id::previewButton } };
        for (const auto& attempt : refused) {
            recorded.fillPaths(attempt.carrier, attempt.modulator, attempt.output);
            recorded.button(attempt.command)->click();
        }
        QTest::qWait(50);
        EXPECT_TRUE(recorded.starts.empty());
        EXPECT_TRUE(answerer.seen().empty());
    }

    TEST(MainWindowStartJob, ARefusedStartNamesTheEmptyBoxInTheStatusLine)
    {
        RecordedWindow recorded;
        QLabel* status = recorded.window.statusLine();
        EXPECT_EQ(status->text(), "Drop wave files onto the path boxes.");
        const struct {
            const char *carrier, *modulator, *output;
            int command;
            const char* hint;
        } refused[] = { { "", "/m.wav", "", id::previewButton, "Name a carrier file first." },
            { "/c.wav", "", "/o.wav", id::vocodeButton, "Name a modulator file first." },
            { "/c.wav", "/m.wav", "", id::vocodeButton, "Name an output file first." } };
        for (const auto& attempt : refused) {
            recorded.fillPaths(attempt.carrier, attempt.modulator, attempt.output);
            recorded.button(attempt.command)->click();
            EXPECT_EQ(status->text(), attempt.hint);
        }
        EXPECT_TRUE(recorded.starts.empty());
    }

    TEST(MainWindowStartJob, PreviewNeedsNoOutputAndTakesThePathsAndSlidersAsTheyStand)
    {
        RecordedWindow recorded;
        recorded.fillPaths("/c.wav", "/m.wav", "");
        recorded.slider(id::clearanceSlider)->setValue(12);
        recorded.slider(id::vaguenessSlider)->setValue(34);
        recorded.slider(id::gainSlider)->setValue(78);
        recorded.slider(id::claritySlider)->setValue(91);
        recorded.button(id::previewButton)->click();
        ASSERT_EQ(recorded.starts, std::vector { JobMode::Preview });
        const job::JobSettings& settings = recorded.startSettings.front();
        EXPECT_EQ(settings.carrierPath, "/c.wav");
        EXPECT_EQ(settings.modulatorPath, "/m.wav");
        EXPECT_EQ(settings.outputPath, "");
        EXPECT_EQ(settings.sound.clearance, 12);
        EXPECT_EQ(settings.sound.vagueness, 34);
        EXPECT_EQ(settings.sound.gain, 78);
        EXPECT_EQ(settings.sound.clarity, 91);
        EXPECT_EQ(settings.carrier.kind, job::CarrierKind::File);
        EXPECT_FALSE(settings.repeatCarrier);
    }

    // Normalize, next to Output Gain, asks a Vocode for a peak of -1 dBFS; unticked it asks none.
    TEST(MainWindowStartJob, NormalizeAsksTheVocodeForAPeakOfMinusOneDecibel)
    {
        for (const bool ticked : { false, true }) {
            RecordedWindow recorded;
            recorded.fillPaths("/c.wav", "/m.wav", "/o.wav");
            auto* box = static_cast<QCheckBox*>(recorded.window.control(id::normalize));
            ASSERT_NE(box, nullptr);
            EXPECT_FALSE(box->isChecked()) << "it starts unticked";
            box->setChecked(ticked);
            recorded.button(id::vocodeButton)->click();
            ASSERT_EQ(recorded.starts, std::vector { JobMode::Vocode });
            const auto& asked = recorded.startSettings.front().normalizeDecibels;
            EXPECT_EQ(asked.has_value(), ticked);
            EXPECT_EQ(asked.value_or(-1.0), -1.0);
        }
    }

    TEST(MainWindowStartJob, LongPathsReachTheJobWhole)
    {
        RecordedWindow recorded;
        const QString longPath = "/tmp/" + QString(400, QChar('d')) + "/carrier.wav";
        recorded.fillPaths(longPath, "/m.wav", "/o/ü.wav");
        recorded.button(id::vocodeButton)->click();
        ASSERT_EQ(recorded.startSettings.size(), 1U);
        EXPECT_EQ(recorded.startSettings.front().carrierPath, longPath.toStdString());
        EXPECT_EQ(recorded.startSettings.front().outputPath, "/o/\xc3\xbc.wav");
    }

    TEST(MainWindowStartJob, AFailedThreadStartShowsTheErrorBox)
    {
        RecordedWindow recorded;
        recorded.startResult = StartResult::ThreadFailed;
        recorded.fillPaths("/c.wav", "/m.wav", "/o.wav");
        BoxAnswerer answerer;
        recorded.button(id::vocodeButton)->click();
        ASSERT_EQ(answerer.seen().size(), 1U);
        const test::SeenBox& box = answerer.seen().front();
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.text,
            "An internal error occured while trying to create the background processing thread.");
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(box.buttons, QMessageBox::Ok);
    }

    TEST(MainWindowStartJob, AStartWhileAJobIsBeingSetUpIsIgnored)
    {
        RecordedWindow recorded;
        recorded.fillPaths("/c.wav", "/m.wav", "/o.wav");
        recorded.window.jobState().jobActive = true;
        recorded.button(id::vocodeButton)->click();
        recorded.button(id::previewButton)->click();
        EXPECT_TRUE(recorded.starts.empty());
        EXPECT_FALSE(recorded.window.jobState().stopRequested);
        recorded.window.jobState().jobActive = false;

        recorded.startResult = StartResult::AlreadyActive;
        BoxAnswerer answerer;
        recorded.button(id::vocodeButton)->click();
        QTest::qWait(30);
        EXPECT_EQ(recorded.starts.size(), 1U);
        EXPECT_TRUE(answerer.seen().empty());
    }

    TEST(MainWindowCommands, WhileVocodingBothButtonsRequestTheStopAndTheRestIsIgnored)
    {
        RecordedWindow recorded;
        job::JobState& state = recorded.window.jobState();
        state.jobActive = true;
        state.jobBusy = true;
        recorded.chosenPath = QString("/chosen.wav");
        BoxAnswerer answerer;
        for (int command : { id::vocodeButton, id::previewButton }) {
            state.stopRequested = false;
            recorded.window.runCommand(command);
            EXPECT_TRUE(state.stopRequested) << command;
        }
        for (int command :
            { id::carrierBrowse, id::modulatorBrowse, id::outputBrowse, id::aboutButton })
            recorded.window.runCommand(command);
        QTest::qWait(30);
        EXPECT_TRUE(recorded.chooserKinds.empty());
        EXPECT_TRUE(answerer.seen().empty());
        EXPECT_TRUE(recorded.starts.empty());
        state.jobBusy = false;
        state.jobActive = false;
    }

    TEST(MainWindowCommands, WhilePreviewingVocodeIsIgnoredAndPreviewStops)
    {
        RecordedWindow recorded;
        job::JobState& state = recorded.window.jobState();
        state.jobActive = true;
        state.jobBusy = true;
        state.previewRunning = true;
        recorded.window.runCommand(id::vocodeButton);
        EXPECT_FALSE(state.stopRequested);
        recorded.window.runCommand(id::previewButton);
        EXPECT_TRUE(state.stopRequested);
        EXPECT_TRUE(recorded.starts.empty());
        state.jobBusy = false;
        state.previewRunning = false;
        state.jobActive = false;
    }

    TEST(MainWindowBrowse, TheChosenPathReplacesTheBoxAndCancelLeavesIt)
    {
        RecordedWindow recorded;
        recorded.fillPaths("/old/c.wav", "/old/m.wav", "/old/o.wav");
        recorded.chosenPath = QString("/new/carrier.wav");
        recorded.button(id::carrierBrowse)->click();
        recorded.chosenPath = QString("/new/modulator.wav");
        recorded.button(id::modulatorBrowse)->click();
        recorded.chosenPath = std::nullopt;
        recorded.button(id::outputBrowse)->click();
        EXPECT_EQ(recorded.edit(id::carrierPath)->text(), "/new/carrier.wav");
        EXPECT_EQ(recorded.edit(id::modulatorPath)->text(), "/new/modulator.wav");
        EXPECT_EQ(recorded.edit(id::outputPath)->text(), "/old/o.wav");
        EXPECT_EQ(recorded.chooserKinds,
            (std::vector {
                FileChooserKind::Carrier, FileChooserKind::Modulator, FileChooserKind::Output }));
        for (QWidget* parent : recorded.chooserParents)
            EXPECT_EQ(parent, &recorded.window);
    }

    TEST(MainWindowBrowse, ADroppedFileFillsThePathBox)
    {
        RecordedWindow recorded;
        QLineEdit* edit = recorded.edit(id::modulatorPath);
        edit->setText("/old/modulator.wav");
        QMimeData mime;
        mime.setUrls({ QUrl::fromLocalFile("/home/someone/voice take.wav") });
        const QPointF inside(5, 5);
        QDragEnterEvent enter(
            inside.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(inside, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(edit, &drop);
        EXPECT_EQ(edit->text(), "/home/someone/voice take.wav");

        QMimeData remote;
        remote.setUrls({ QUrl("https://example.org/a.wav") });
        EXPECT_TRUE(PathEdit::droppedPath(&remote).isEmpty());
    }

    TEST(MainWindowAbout, ShowsNameVersionAndCreditsWithoutAnIcon)
    {
        RecordedWindow recorded;
        BoxAnswerer answerer;
        recorded.button(id::aboutButton)->click();
        ASSERT_EQ(answerer.seen().size(), 1U);
        const test::SeenBox& box = answerer.seen().front();
        EXPECT_EQ(box.caption, "About");
        // The whole version, as --version, lumivox-cli and the package give it.
        EXPECT_TRUE(box.text.startsWith("Lumivox\nVersion 1.0.0\n\n")) << box.text.toStdString();
        EXPECT_GT(box.text.size(), QString("Lumivox\nVersion 1.0.0\n\n").size());
        EXPECT_EQ(box.icon, QMessageBox::NoIcon);
        EXPECT_EQ(box.buttons, QMessageBox::Ok);
    }

    TEST(MainWindowHelp, SlidersShowTheirValuesAsTheyMove)
    {
        RecordedWindow recorded;
        const auto readout = [&](int sliderId) {
            return recorded.window.sliderReadout(sliderId)->text().toStdString();
        };
        EXPECT_EQ(readout(id::clearanceSlider), "0 %");
        EXPECT_EQ(readout(id::claritySlider), "0 %");
        EXPECT_EQ(readout(id::gainSlider), "1.00× (0.0 dB)");
        recorded.slider(id::clearanceSlider)->setValue(100);
        recorded.slider(id::vaguenessSlider)->setValue(37);
        recorded.slider(id::gainSlider)->setValue(100);
        recorded.slider(id::claritySlider)->setValue(25);
        EXPECT_EQ(readout(id::claritySlider), "25 %");
        EXPECT_EQ(readout(id::clearanceSlider), "100 %");
        EXPECT_EQ(readout(id::vaguenessSlider), "37 %");
        EXPECT_EQ(readout(id::gainSlider), "2.00× (+6.0 dB)");
        recorded.slider(id::gainSlider)->setValue(3);
        EXPECT_EQ(readout(id::gainSlider), "0.06× (−24.4 dB)");
        recorded.slider(id::gainSlider)->setValue(0);
        EXPECT_EQ(readout(id::gainSlider), "0.00× (−∞ dB)");
        // Each readout stands right of its slider, inside the window.
        for (int sliderId :
            { id::clearanceSlider, id::vaguenessSlider, id::gainSlider, id::claritySlider }) {
            const QRect box = recorded.window.sliderReadout(sliderId)->geometry();
            EXPECT_GT(box.left(), recorded.slider(sliderId)->geometry().right());
            EXPECT_LE(box.right(), recorded.window.width());
        }
    }

    TEST(MainWindowHelp, EveryControlHasANameForScreenReadersAndTheInputsExplainThemselves)
    {
        RecordedWindow recorded;
        std::set<QString> browseNames;
        for (int controlId = 0; controlId < id::count; ++controlId) {
            QWidget* widget = recorded.window.control(controlId);
            if (widget == nullptr)
                continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            ASSERT_NE(accessible, nullptr) << controlId;
            EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << controlId;
            if (controlId == id::carrierBrowse || controlId == id::modulatorBrowse
                || controlId == id::outputBrowse)
                browseNames.insert(accessible->text(QAccessible::Name));
        }
        EXPECT_EQ(browseNames.size(), 3U); // three buttons reading "Browse..." are told apart
        for (int controlId :
            { id::carrierPath, id::carrierBrowse, id::modulatorPath, id::modulatorBrowse,
                id::outputPath, id::outputBrowse, id::clearanceSlider, id::vaguenessSlider,
                id::gainSlider, id::claritySlider, id::carrierKind, id::chordRoot, id::chordType,
                id::followInterval, id::repeatCarrier, id::normalize })
            EXPECT_TRUE(recorded.window.control(controlId)->toolTip().endsWith('.')) << controlId;
        EXPECT_TRUE(recorded.window.control(id::normalize)->toolTip().contains("Preview is not"));
        EXPECT_TRUE(recorded.window.control(id::carrierPath)->toolTip().contains("shaped"));
        EXPECT_TRUE(recorded.window.control(id::vaguenessSlider)->toolTip().contains("neighbours"));
        EXPECT_TRUE(recorded.window.control(id::claritySlider)->toolTip().contains("consonants"));
        // A slider's label explains it as the slider does.
        for (const auto& [labelId, sliderId] :
            { std::pair { id::clearanceLabel, id::clearanceSlider },
                std::pair { id::vaguenessLabel, id::vaguenessSlider },
                std::pair { id::gainLabel, id::gainSlider },
                std::pair { id::clarityLabel, id::claritySlider } })
            EXPECT_EQ(recorded.window.control(labelId)->toolTip(),
                recorded.window.control(sliderId)->toolTip())
                << labelId;
        EXPECT_TRUE(
            static_cast<QProgressBar*>(recorded.window.control(id::progressBar))->isTextVisible());
    }

    // Whatever an earlier run left on show, a new start clears it: the bar, the line, the sign.
    TEST(MainWindowStatus, EachStartResetsTheProgressAndTheStatusLine)
    {
        struct Start {
            JobMode mode;
            const char* line;
        };
        for (const Start& start : { Start { JobMode::Vocode, "Vocoding… 0 %" },
                 Start { JobMode::Preview, "Previewing… 0:00" } }) {
            RecordedWindow recorded;
            recorded.fillPaths("/c.wav", "/m.wav", "/o.wav");
            recorded.window.show();
            recorded.window.setProgress(100);
            job::RunReport clipped;
            clipped.secondsDone = clipped.secondsTotal = 2.0;
            clipped.clippedSamples = 5;
            recorded.window.showRunEnd(clipped);
            ASSERT_TRUE(recorded.window.statusWarningIcon()->isVisible());
            auto* progress = static_cast<QProgressBar*>(recorded.window.control(id::progressBar));
            ASSERT_EQ(progress->value(), 100);

            recorded.window.startOrStopJob(start.mode);
            ASSERT_EQ(recorded.starts.size(), 1U);
            EXPECT_EQ(progress->value(), 0);
            EXPECT_EQ(recorded.window.statusLine()->text().toStdString(), start.line);
            EXPECT_FALSE(recorded.window.statusWarningIcon()->isVisible());
        }
    }

    TEST(MainWindowStatus, TheLineSaysFailedWhileTheErrorBoxIsOpen)
    {
        RecordedWindow recorded;
        recorded.window.show();
        QString lineWhileOpen;
        QTimer watcher;
        watcher.setInterval(5);
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                lineWhileOpen = recorded.window.statusLine()->text();
                box->accept();
            }
        });
        watcher.start();
        recorded.window.showError(QStringLiteral("The carrier wave file could not be opened."),
            QStringLiteral("/x/c.wav: no such file"));
        EXPECT_EQ(lineWhileOpen.toStdString(),
            "Failed: the carrier wave file could not be opened (/x/c.wav: no such file)");
    }

    TEST(MainWindowKeyboard, EscapeStopsARunningJobAndDoesNothingWhenIdle)
    {
        RecordedWindow recorded;
        recorded.showActive();
        job::JobState& state = recorded.window.jobState();
        QTest::keyClick(recorded.edit(id::carrierPath), Qt::Key_Escape);
        EXPECT_FALSE(state.stopRequested);
        for (const bool previewing : { false, true }) {
            state.stopRequested = false;
            state.jobActive = true;
            state.jobBusy = true;
            state.previewRunning = previewing;
            QTest::keyClick(recorded.slider(id::gainSlider), Qt::Key_Escape);
            EXPECT_TRUE(state.stopRequested) << previewing;
        }
        state.stopRequested = false;
        state.jobActive = false;
        state.jobBusy = false;
        state.previewRunning = false;
        EXPECT_TRUE(recorded.exitCodes.empty());
    }

    TEST(MainWindowKeyboard, CtrlQClosesAsTheCloseButtonDoesAndF1OpensAbout)
    {
        RecordedWindow recorded;
        recorded.showActive();
        BoxAnswerer answerer;
        QTest::keyClick(recorded.edit(id::carrierPath), Qt::Key_F1);
        ASSERT_EQ(answerer.seen().size(), 1U);
        EXPECT_EQ(answerer.seen().front().caption, "About");
        recorded.showActive(); // the box took the activation with it

        job::JobState& state = recorded.window.jobState();
        state.jobActive = true;
        state.jobBusy = true;
        QTest::keyClick(recorded.edit(id::carrierPath), Qt::Key_Q, Qt::ControlModifier);
        EXPECT_TRUE(state.closeRequested); // the job will ask its question
        EXPECT_TRUE(recorded.exitCodes.empty());
        state.closeRequested = false;
        state.jobBusy = false;
        state.jobActive = false;
        QTest::keyClick(recorded.edit(id::carrierPath), Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(recorded.exitCodes, std::vector { 0 });
    }

    TEST(MainWindowMemory, EachChooserOpensInItsOwnLastFolderAndTheSizeIsKeptAcrossStarts)
    {
        QTemporaryDir voices;
        QTemporaryDir synths;
        ASSERT_TRUE(voices.isValid() && synths.isValid());
        QSize keptSize;
        {
            RecordedWindow recorded;
            recorded.chosenPath = voices.filePath("voice.wav");
            recorded.button(id::modulatorBrowse)->click();
            recorded.chosenPath = synths.filePath("chord.wav");
            recorded.button(id::carrierBrowse)->click();
            recorded.slider(id::claritySlider)->setValue(70);
            // Wider than the least size, yet within the screen, which would bound a larger one.
            const QSize minimum = recorded.window.minimumSize();
            const QSize available = recorded.window.screen()->availableGeometry().size();
            ASSERT_LT(minimum.width() + 1, available.width());
            recorded.window.resize((minimum.width() + available.width()) / 2, minimum.height());
            keptSize = recorded.window.size();
            recorded.window.show();
            EXPECT_TRUE(recorded.window.close());
        }
        RecordedWindow restarted;
        EXPECT_EQ(restarted.window.size(), keptSize);
        const auto openedIn = [](FileChooserKind kind) {
            QFileDialog chooser;
            configureFileDialog(chooser, kind);
            return QDir(chooser.directory()).canonicalPath();
        };
        EXPECT_EQ(openedIn(FileChooserKind::Modulator), QDir(voices.path()).canonicalPath());
        EXPECT_EQ(openedIn(FileChooserKind::Carrier), QDir(synths.path()).canonicalPath());
        EXPECT_NE(openedIn(FileChooserKind::Output), QDir(voices.path()).canonicalPath());
        EXPECT_NE(openedIn(FileChooserKind::Output), QDir(synths.path()).canonicalPath());
        // Paths and sliders still start empty and at their defaults.
        EXPECT_TRUE(restarted.edit(id::modulatorPath)->text().isEmpty());
        EXPECT_EQ(restarted.slider(id::gainSlider)->value(), 50);
        EXPECT_EQ(restarted.slider(id::claritySlider)->value(), 0);
        restarted.window.resize(restarted.window.minimumSize());
        restarted.window.show();
        EXPECT_TRUE(restarted.window.close()); // later tests start at the least size again
    }

    TEST(MainWindowClose, ClosingWhileIdleEndsTheProgramWithZero)
    {
        RecordedWindow recorded;
        recorded.window.show();
        EXPECT_TRUE(recorded.window.close());
        EXPECT_EQ(recorded.exitCodes, std::vector { 0 });
    }

    TEST(MainWindowClose, ClosingWhileBusyOnlyRequestsTheClose)
    {
        RecordedWindow recorded;
        job::JobState& state = recorded.window.jobState();
        state.jobActive = true;
        state.jobBusy = true;
        recorded.window.show();
        EXPECT_FALSE(recorded.window.close());
        EXPECT_TRUE(recorded.window.isVisible());
        EXPECT_TRUE(state.closeRequested);
        // The job answers No: the close is dropped and the window stays.
        state.closeRequested = false;
        QTest::qWait(150);
        state.jobBusy = false;
        state.jobActive = false;
        QTest::qWait(150);
        EXPECT_TRUE(recorded.exitCodes.empty());
        EXPECT_TRUE(recorded.window.isVisible());
    }

    TEST(MainWindowClose, AClosingDuringSetUpEndsTheProgramOnceAFailedJobHasReturned)
    {
        RecordedWindow recorded;
        job::JobState& state = recorded.window.jobState();
        state.jobActive = true; // being set up: jobBusy is still false
        recorded.window.show();
        EXPECT_FALSE(recorded.window.close());
        EXPECT_TRUE(state.closeRequested);
        QTest::qWait(120);
        EXPECT_TRUE(recorded.exitCodes.empty());
        state.jobActive = false; // the set-up failed and the job returned without looking
        EXPECT_TRUE(waitUntil([&] { return !recorded.exitCodes.empty(); }));
        EXPECT_EQ(recorded.exitCodes, std::vector { 0 });
    }

    TEST(MainWindowStartJob, TypedPathsReachTheJobInFullAndTheBoxesShowThem)
    {
        RecordedWindow recorded;
        recorded.fillPaths("~/c.wav", "/nowhere/voices/m.wav", "take 2.wav");
        recorded.button(id::vocodeButton)->click();
        ASSERT_EQ(recorded.startSettings.size(), 1U);
        const job::JobSettings& settings = recorded.startSettings.front();
        EXPECT_EQ(settings.carrierPath, (QDir::homePath() + "/c.wav").toStdString());
        EXPECT_EQ(settings.modulatorPath, "/nowhere/voices/m.wav");
        EXPECT_EQ(settings.outputPath, "/nowhere/voices/take 2.wav");
        EXPECT_EQ(recorded.edit(id::carrierPath)->text(), QDir::homePath() + "/c.wav");
        EXPECT_EQ(recorded.edit(id::outputPath)->text(), "/nowhere/voices/take 2.wav");
    }

    // After a Browse... or About has closed its box, the focus is still on that button: Enter
    // must start Vocode, not open the box again.
    class MainWindowEnterAfterABox : public testing::TestWithParam<int> { };

    TEST_P(MainWindowEnterAfterABox, StartsVocode)
    {
        RecordedWindow recorded;
        recorded.fillPaths("/c.wav", "/m.wav", "/o.wav");
        recorded.showActive();
        BoxAnswerer answerer;
        QPushButton* pressed = recorded.button(GetParam());
        pressed->setFocus();
        QTest::keyClick(pressed, Qt::Key_Space);
        ASSERT_EQ(recorded.chooserKinds.size() + answerer.seen().size(), 1U);
        recorded.showActive(); // a box takes the activation with it
        pressed->setFocus();
        QTest::keyClick(pressed, Qt::Key_Return);
        EXPECT_EQ(recorded.starts, std::vector { JobMode::Vocode });
        EXPECT_EQ(recorded.chooserKinds.size() + answerer.seen().size(), 1U);
        EXPECT_TRUE(recorded.button(id::vocodeButton)->isDefault());
    }

    INSTANTIATE_TEST_SUITE_P(Buttons, MainWindowEnterAfterABox,
        testing::Values(id::carrierBrowse, id::modulatorBrowse, id::outputBrowse, id::aboutButton));

    // A typed output that exists gets the output chooser's question; what the user already
    // agreed to, and what the job refuses anyway, get none.
    struct ReplaceCase {
        const char* name;
        bool exists;
        QMessageBox::StandardButton answer;
        std::function<void(RecordedWindow&, const QString& output)> before;
        bool asked;
        bool started;
    };

    const ReplaceCase replaceCases[] = {
        { "ANewFileIsNotAskedAbout", false, QMessageBox::No, {}, false, true },
        { "AnExistingFileAnsweredNoIsLeftAlone", true, QMessageBox::No, {}, true, false },
        { "AnExistingFileAnsweredYesIsReplaced", true, QMessageBox::Yes, {}, true, true },
        { "AFileTheChooserAskedAboutIsNotAskedAgain", true, QMessageBox::No,
            [](RecordedWindow& recorded, const QString& output) {
                recorded.chosenPath = output;
                recorded.button(id::outputBrowse)->click();
            },
            false, true },
        { "TheFileTheLastRunWroteIsNotAskedAbout", true, QMessageBox::No,
            [](RecordedWindow& recorded, const QString& output) {
                QFile::remove(output);
                recorded.button(id::vocodeButton)->click();
                test::writeFile(output.toStdString(), { 1, 2, 3 });
                recorded.starts.clear();
            },
            false, true },
        { "AnInputAsOutputIsLeftToTheJobToRefuse", true, QMessageBox::No,
            [](RecordedWindow& recorded, const QString& output) {
                recorded.edit(id::carrierPath)->setText(output);
            },
            false, true },
    };

    class MainWindowReplace : public testing::TestWithParam<ReplaceCase> { };

    TEST_P(MainWindowReplace, AsksAsTheChooserDoesBeforeATypedOutputIsReplaced)
    {
        const ReplaceCase& c = GetParam();
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        const QString output = folder.filePath("take.wav");
        if (c.exists)
            test::writeFile(output.toStdString(), { 1, 2, 3 });
        RecordedWindow recorded;
        recorded.fillPaths("/c.wav", "/m.wav", output);
        if (c.before)
            c.before(recorded, output);
        BoxAnswerer answerer(c.answer);
        recorded.button(id::vocodeButton)->click();
        EXPECT_EQ(recorded.starts.size(), c.started ? 1U : 0U);
        ASSERT_EQ(answerer.seen().size(), c.asked ? 1U : 0U);
        if (c.asked) {
            const test::SeenBox& box = answerer.seen().front();
            EXPECT_EQ(box.text, output + " already exists.\nDo you want to replace it?");
            EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
            EXPECT_EQ(box.defaultButton, QMessageBox::No);
        }
        EXPECT_EQ(test::readFile(output.toStdString()).size(), c.exists ? 3U : 0U);
    }

    INSTANTIATE_TEST_SUITE_P(Outputs, MainWindowReplace, testing::ValuesIn(replaceCases),
        [](const testing::TestParamInfo<ReplaceCase>& c) { return std::string(c.param.name); });

    // What a label or tooltip shows of a text: rich text is rendered, plain text shown as it is.
    QString shownText(const QString& text, Qt::TextFormat format)
    {
        if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
            return text;
        QTextDocument document;
        document.setHtml(text);
        return document.toPlainText();
    }

    // What each message box that opens during an action shows, all its labels in one text.
    QStringList shownInBoxes(const std::function<void()>& action)
    {
        QStringList shown;
        QTimer watcher;
        watcher.setInterval(5);
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible())
                return;
            QStringList labels;
            for (const QLabel* label : box->findChildren<QLabel*>())
                labels << shownText(label->text(), label->textFormat());
            shown << labels.join('\n');
            box->reject();
        });
        watcher.start();
        action();
        return shown;
    }

    // A file name that, taken as markup, would turn the line red and hide what follows it.
    const QString markupName
        = QStringLiteral("/tmp/<font size=7 color=red>hidden<font color=#efefef>x.wav");

    struct NameShownCase {
        const char* name;
        // Makes the window show markupName and returns what the user then sees.
        std::function<QStringList(RecordedWindow&)> shown;
    };

    const NameShownCase nameShownCases[] = {
        { "TheStatusLineAndItsToolTipAfterARun",
            [](RecordedWindow& recorded) {
                recorded.fillPaths("/c.wav", "/m.wav", markupName);
                recorded.button(id::vocodeButton)->click();
                job::RunReport report;
                report.secondsDone = report.secondsTotal = 1.0;
                recorded.window.showRunEnd(report);
                const QLabel* line = recorded.window.statusLine();
                const QString shown = shownText(line->text(), line->textFormat());
                return QStringList { shown.left(shown.indexOf(markupName) + markupName.size()),
                    shownText(line->toolTip(), Qt::AutoText) };
            } },
        { "TheStatusLineWhileAnErrorBoxIsOpen",
            [](RecordedWindow& recorded) {
                QString line;
                shownInBoxes([&] {
                    QTimer::singleShot(0, [&] {
                        const QLabel* status = recorded.window.statusLine();
                        line = shownText(status->text(), status->textFormat());
                    });
                    recorded.window.showError(QStringLiteral("The output could not be made."),
                        markupName + QStringLiteral(": Permission denied"));
                });
                return QStringList { line };
            } },
        { "TheErrorBoxsDetail",
            [](RecordedWindow& recorded) {
                return shownInBoxes([&] {
                    recorded.window.showError(QStringLiteral("The output could not be made."),
                        markupName + QStringLiteral(": Permission denied"));
                });
            } },
        { "TheReplaceQuestion",
            [](RecordedWindow&) {
                return shownInBoxes([] {
                    QWidget owner;
                    makeReplaceQuestionBox(&owner, markupName)->exec();
                });
            } },
    };

    class MainWindowNames : public testing::TestWithParam<NameShownCase> { };

    TEST_P(MainWindowNames, AreShownAsTheyAreNeverAsMarkup)
    {
        RecordedWindow recorded;
        recorded.window.show();
        const QStringList shown = GetParam().shown(recorded);
        ASSERT_FALSE(shown.isEmpty());
        for (const QString& text : shown)
            EXPECT_TRUE(text.contains(markupName)) << text.toStdString();
    }

    INSTANTIATE_TEST_SUITE_P(Places, MainWindowNames, testing::ValuesIn(nameShownCases),
        [](const testing::TestParamInfo<NameShownCase>& c) { return std::string(c.param.name); });

} // namespace
} // namespace lumivox::app
