#include "app_test_support.h"
#include "carrier_controls.h"
#include "control_ids.h"
#include "fake_live_audio.h"
#include "main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace lumivox::app {
namespace {

    namespace id = app::control;
    using test::waitUntil;

    using test::FakePlayback;

    class LiveWindow : public ::testing::Test {
    protected:
        LiveWindow()
        {
            window.setLiveAudioOpener(
                [this](std::string& problem) -> std::unique_ptr<job::LiveAudio> {
                    if (!openProblem.empty()) {
                        problem = openProblem;
                        return nullptr;
                    }
                    return std::make_unique<test::FakeLiveAudio>(playback);
                });
            // White noise as the carrier: no file needed.
            static_cast<QComboBox*>(window.control(id::carrierKind))
                ->setCurrentIndex(static_cast<int>(job::CarrierKind::Noise));
        }
        // The choice is remembered: the tests after these start with a carrier file again.
        ~LiveWindow() override { rememberCarrierChoice({}); }
        QPushButton* button(int controlId) const
        {
            return static_cast<QPushButton*>(window.control(controlId));
        }
        QString status() const { return window.statusLine()->text(); }

        MainWindow window;
        FakePlayback playback;
        std::string openProblem;
    };

    TEST_F(LiveWindow, LivePlaysWithTheSlidersActingUntilStopped)
    {
        button(id::liveButton)->click();
        EXPECT_EQ(button(id::liveButton)->text(), "Stop");
        // The controls a live run takes from the user until it stops.
        const int taken[] = { id::vocodeButton, id::previewButton, id::recordLive, id::carrierKind,
            id::modulatorPath, id::aboutButton };
        for (const int control : taken)
            EXPECT_FALSE(window.control(control)->isEnabled()) << control;
        EXPECT_TRUE(window.control(id::gainSlider)->isEnabled());
        ASSERT_TRUE(waitUntil([&] { return status().startsWith("Live on a fake."); }))
            << status().toStdString();
        ASSERT_TRUE(waitUntil([&] { return status().startsWith("Live: input "); }));
        EXPECT_TRUE(status().endsWith("3 missed cycles")) << status().toStdString();

        // The gain slider is heard while it plays: at 0 the output falls silent, and comes back.
        ASSERT_TRUE(
            waitUntil([&] { return !playback.lastPeriodSilent() && !playback.output().empty(); }));
        static_cast<QSlider*>(window.control(id::gainSlider))->setValue(0);
        EXPECT_TRUE(waitUntil([&] { return playback.lastPeriodSilent(); }));
        static_cast<QSlider*>(window.control(id::gainSlider))->setValue(50);
        EXPECT_TRUE(waitUntil([&] { return !playback.lastPeriodSilent(); }));

        button(id::liveButton)->click();
        ASSERT_TRUE(waitUntil([&] { return button(id::liveButton)->text() == "Live"; }));
        EXPECT_EQ(status(), "Live stopped.");
        for (const int control : taken)
            EXPECT_TRUE(window.control(control)->isEnabled()) << control;
        EXPECT_FALSE(window.liveRunning());
    }

    TEST_F(LiveWindow, RecordWritesWhatWasPlayedToTheOutputFile)
    {
        QTemporaryDir folder;
        const QString recordPath = folder.filePath("live.wav");
        static_cast<QLineEdit*>(window.control(id::outputPath))->setText(recordPath);
        static_cast<QCheckBox*>(window.control(id::recordLive))->setChecked(true);
        button(id::liveButton)->click();
        ASSERT_TRUE(waitUntil([&] { return playback.output().size() > 48000; }));
        button(id::liveButton)->click();
        ASSERT_TRUE(waitUntil([&] { return button(id::liveButton)->text() == "Live"; }));
        EXPECT_TRUE(status().startsWith("Live stopped; ")) << status().toStdString();
        EXPECT_TRUE(status().endsWith(" s recorded to " + recordPath)) << status().toStdString();

        EXPECT_EQ(test::recordedSamples(recordPath.toStdString()), playback.output());
    }

    struct RefusalCase {
        const char* name;
        bool recordWithoutPath;
        std::string openProblem;
        const char* status;
        bool warning;
    };

    class LiveRefusals : public LiveWindow, public ::testing::WithParamInterface<RefusalCase> { };

    // A live run that cannot start says why in the status line and leaves the window as it was.
    TEST_P(LiveRefusals, SayWhyInTheStatusLine)
    {
        openProblem = GetParam().openProblem;
        static_cast<QCheckBox*>(window.control(id::recordLive))
            ->setChecked(GetParam().recordWithoutPath);
        button(id::liveButton)->click();
        ASSERT_TRUE(waitUntil([&] { return button(id::liveButton)->text() == "Live"; }));
        ASSERT_TRUE(waitUntil([&] { return status() == GetParam().status; }))
            << status().toStdString();
        EXPECT_EQ(window.statusWarningIcon()->isVisibleTo(&window), GetParam().warning);
        EXPECT_TRUE(button(id::vocodeButton)->isEnabled());
        EXPECT_TRUE(playback.output().empty());
    }

    INSTANTIATE_TEST_SUITE_P(Refusals, LiveRefusals,
        ::testing::Values(
            RefusalCase { "noAudio", false,
                "no JACK server is running and there is no audio input device",
                "No JACK server is running and there is no audio input device.", true },
            RefusalCase { "recordWithoutOutput", true, "", "Name an output file first.", false }),
        [](const auto& named) { return std::string(named.param.name); });

} // namespace
} // namespace lumivox::app
