#include "app_test_support.h"
#include "control_ids.h"
#include "job/live_session.h"
#include "main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <atomic>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace lumivox::app {
namespace {

    namespace id = app::control;
    using test::waitUntil;

    // What a fake audio system played, kept by the test: the run owns the fake and ends it.
    struct FakePlayback {
        std::vector<float> output() const
        {
            const std::lock_guard lock(mutex);
            return played;
        }
        // Whether the newest period played was silence (none played counts as not).
        bool lastPeriodSilent() const
        {
            const std::lock_guard lock(mutex);
            return played.size() >= 128
                && std::all_of(played.end() - 128, played.end(), [](float v) { return v == 0.0F; });
        }
        mutable std::mutex mutex;
        std::vector<float> played;
    };

    // An audio system without a device, paced by a thread of its own: a period of a sung vowel
    // every millisecond until it is stopped.
    class FakeAudio final : public job::LiveAudio {
    public:
        explicit FakeAudio(FakePlayback& kept)
            : playback(kept)
        {
        }
        ~FakeAudio() override { stop(); }
        std::uint32_t sampleRate() const override { return 48000; }
        std::uint32_t periodFrames() const override { return 128; }
        std::string describe() const override { return "a fake"; }
        bool start(job::LiveSession& session, std::string&) override
        {
            thread = std::thread([this, &session] {
                std::vector<float> voice(128);
                std::vector<float> out(128);
                for (std::size_t period = 0; !stopping; ++period) {
                    for (std::size_t i = 0; i < voice.size(); ++i)
                        voice[i] = static_cast<float>(
                            0.3 * std::sin(0.05 * static_cast<double>(period * 128 + i)));
                    session.process(voice, {}, out);
                    {
                        const std::lock_guard lock(playback.mutex);
                        playback.played.insert(playback.played.end(), out.begin(), out.end());
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
            return true;
        }
        void stop() override
        {
            stopping = true;
            if (thread.joinable())
                thread.join();
        }
        std::uint64_t missedCycles() const override { return 0; }
        bool lost(std::string&) const override { return false; }

    private:
        FakePlayback& playback;
        std::atomic<bool> stopping { false };
        std::thread thread;
    };

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
                    return std::make_unique<FakeAudio>(playback);
                });
            // White noise as the carrier: no file needed.
            static_cast<QComboBox*>(window.control(id::carrierKind))
                ->setCurrentIndex(static_cast<int>(job::CarrierKind::Noise));
        }
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
        for (const int taken : { id::vocodeButton, id::previewButton, id::recordLive,
                 id::carrierKind, id::modulatorPath, id::aboutButton })
            EXPECT_FALSE(window.control(taken)->isEnabled()) << taken;
        EXPECT_TRUE(window.control(id::gainSlider)->isEnabled());
        ASSERT_TRUE(waitUntil([&] { return status().startsWith("Live on a fake."); }))
            << status().toStdString();
        ASSERT_TRUE(waitUntil([&] { return status().startsWith("Live: input "); }));
        EXPECT_TRUE(status().endsWith("0 missed cycles")) << status().toStdString();

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
        for (const int handedBack : { id::vocodeButton, id::previewButton, id::recordLive,
                 id::carrierKind, id::modulatorPath, id::aboutButton })
            EXPECT_TRUE(window.control(handedBack)->isEnabled()) << handedBack;
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

        std::string problem;
        const auto wave = test::readOutputWave(recordPath.toStdString(), problem);
        ASSERT_TRUE(wave) << problem;
        std::vector<float> recorded(wave->data.size() / sizeof(float));
        std::memcpy(recorded.data(), wave->data.data(), recorded.size() * sizeof(float));
        EXPECT_EQ(recorded, playback.output());
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
