#include "app_test_support.h"
#include "control_help.h"
#include "control_ids.h"
#include "job/forwarding_events.h"
#include "job/vocoding_job.h"
#include "main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace lumivox::app {
namespace {

    namespace id = app::control;
    using job::JobMode;
    using StartResult = job::JobThread::StartResult;
    using test::BoxAnswerer;
    using test::waitUntil;

    constexpr int headerBytes = 46; // "RIFF" form, an 18-byte "fmt " chunk and the "data" header
    constexpr int carrierSamples = 30000;
    constexpr int modulatorSamples = 24000;

    // Passes the job's calls on to the window, holding the job at its first progress step past
    // zero until the test lets it go: the run is then certainly under way.
    class PausingPort final : public job::ForwardingEvents {
    public:
        explicit PausingPort(job::JobEvents& window)
            : ForwardingEvents(window)
        {
        }
        void progress(int percent) override
        {
            ForwardingEvents::progress(percent);
            if (percent > 0 && !pausedOnce) {
                pausedOnce = true;
                std::unique_lock lock(mutex);
                paused = true;
                released.wait(lock, [this] { return letGo; });
                paused = false;
            }
        }

        bool isPaused()
        {
            std::lock_guard lock(mutex);
            return paused;
        }
        void release()
        {
            {
                std::lock_guard lock(mutex);
                letGo = true;
            }
            released.notify_all();
        }

    private:
        bool pausedOnce = false;
        std::mutex mutex;
        std::condition_variable released;
        bool paused = false;
        bool letGo = false;
    };

    // The real job on its own thread through a PausingPort. Declared after the window, so that it
    // lets its job finish before the window goes.
    class PausingJob {
    public:
        explicit PausingJob(MainWindow& window_)
            : window(window_)
            , port(window_.jobEvents())
        {
            window.setJobStarter(
                [this](job::JobSettings settings) { return start(std::move(settings)); });
        }
        ~PausingJob()
        {
            port.release();
            static_cast<void>(waitUntil([this] { return !window.jobState().jobActive; }));
            if (thread.joinable())
                thread.join();
        }
        PausingPort& gate() { return port; }

    private:
        StartResult start(job::JobSettings settings)
        {
            bool idle = false;
            if (!window.jobState().jobActive.compare_exchange_strong(idle, true))
                return StartResult::AlreadyActive;
            if (thread.joinable())
                thread.join(); // the last job has returned: it cleared jobActive on its way out
            thread = std::thread([this, settings = std::move(settings)] {
                static_cast<void>(job::runVocodingJob(settings, window.jobState(), port));
                window.jobState().jobActive = false;
            });
            return StartResult::Started;
        }

        MainWindow& window;
        PausingPort port;
        std::thread thread;
    };

    class WindowJob : public testing::Test {
    protected:
        void SetUp() override
        {
            ASSERT_TRUE(folder.isValid());
            carrier = path("carrier.wav");
            modulator = path("modulator.wav");
            output = path("output.wav");
            test::writeWaveFile(carrier, { 1, 1, 22050, 16 }, test::tone16(carrierSamples, 50));
            test::writeWaveFile(modulator, { 1, 1, 22050, 16 }, test::tone16(modulatorSamples, 23));
            window.setQuitHandler([this](int exitCode) { exitCodes.push_back(exitCode); });
            edit(id::carrierPath)->setText(QString::fromStdString(carrier));
            edit(id::modulatorPath)->setText(QString::fromStdString(modulator));
            edit(id::outputPath)->setText(QString::fromStdString(output));
        }

        std::string path(const char* name) const { return folder.filePath(name).toStdString(); }
        QLineEdit* edit(int controlId)
        {
            return static_cast<QLineEdit*>(window.control(controlId));
        }
        QPushButton* button(int controlId)
        {
            return static_cast<QPushButton*>(window.control(controlId));
        }
        int progress()
        {
            return static_cast<QProgressBar*>(window.control(id::progressBar))->value();
        }
        bool idle() { return !window.jobState().jobActive && !window.jobState().jobBusy; }
        std::string status() { return window.statusLine()->text().toStdString(); }

        void expectIdleControls()
        {
            for (int controlId :
                { id::carrierPath, id::carrierBrowse, id::modulatorPath, id::modulatorBrowse,
                    id::outputPath, id::outputBrowse, id::clearanceSlider, id::vaguenessSlider,
                    id::gainSlider, id::vocodeButton, id::previewButton, id::aboutButton })
                EXPECT_TRUE(window.control(controlId)->isEnabled()) << controlId;
            EXPECT_EQ(button(id::vocodeButton)->text(), "Vocode");
            EXPECT_EQ(button(id::previewButton)->text(), "Preview");
        }

        // The output's data chunk size, after checking that the header describes the file.
        std::uint32_t checkedDataBytes()
        {
            const std::vector<std::uint8_t> bytes = test::readFile(output);
            EXPECT_GE(bytes.size(), static_cast<std::size_t>(headerBytes));
            if (bytes.size() < headerBytes)
                return 0;
            EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
            EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
            EXPECT_EQ(test::uint32At(bytes, 4), bytes.size() - 8);
            EXPECT_EQ(bytes.at(22), 1); // one channel
            EXPECT_EQ(test::uint32At(bytes, 24), 22050U);
            EXPECT_EQ(std::string(bytes.begin() + 38, bytes.begin() + 42), "data");
            EXPECT_EQ(test::uint32At(bytes, 42), bytes.size() - headerBytes);
            return test::uint32At(bytes, 42);
        }

        QTemporaryDir folder;
        std::string carrier, modulator, output;
        MainWindow window;
        std::vector<int> exitCodes;
    };

    TEST_F(WindowJob, VocodeThroughTheWindowWritesTheShorterInputsLength)
    {
        QTest::keyClick(edit(id::outputPath), Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] { return idle() && progress() == 100; }));
        EXPECT_EQ(checkedDataBytes(), modulatorSamples * 2U);
        expectIdleControls();
        EXPECT_FALSE(window.jobState().stopRequested);
        EXPECT_TRUE(exitCodes.empty());
        // 24000 samples at 22050 Hz, at the peak the file holds; the carrier's last 6000 unused.
        const test::Bytes bytes = test::readFile(output);
        int loudest = 0;
        for (std::size_t offset = 44; offset + 1 < bytes.size(); offset += 2)
            loudest = std::max(loudest,
                std::abs(
                    static_cast<int>(static_cast<std::int16_t>(test::uint16At(bytes, offset)))));
        ASSERT_GT(loudest, 0);
        EXPECT_EQ(status(),
            "Done: 1.09 s written to " + output + ", peak "
                + decibelText(loudest / 32767.0, QStringLiteral("dBFS")).toStdString()
                + "\nThe modulator ended first; 0.27 s of the carrier was left out.");
        EXPECT_EQ(window.statusLine()->toolTip().toStdString(), output);
        EXPECT_FALSE(window.statusWarningIcon()->isVisible());
    }

    // A built-in sound, or a short carrier file repeated, gives the voice's whole length.
    TEST_F(WindowJob, EachBuiltInSoundAndARepeatedCarrierLastAsLongAsTheVoice)
    {
        test::writeWaveFile(carrier, { 1, 1, 22050, 16 }, test::tone16(modulatorSamples / 3, 50));
        struct Case {
            job::CarrierKind kind;
            const char* carrierText;
            bool repeat;
        };
        const Case cases[] = { { job::CarrierKind::Chord, "", false },
            { job::CarrierKind::Noise, "", false }, { job::CarrierKind::FollowVoice, "", false },
            { job::CarrierKind::File, nullptr, true } };
        auto* kind = static_cast<QComboBox*>(window.control(id::carrierKind));
        for (const Case& sound : cases) {
            SCOPED_TRACE(static_cast<int>(sound.kind));
            kind->setCurrentIndex(static_cast<int>(sound.kind));
            edit(id::carrierPath)
                ->setText(sound.carrierText != nullptr ? QString::fromUtf8(sound.carrierText)
                                                       : QString::fromStdString(carrier));
            static_cast<QCheckBox*>(window.control(id::repeatCarrier))->setChecked(sound.repeat);
            button(id::vocodeButton)->click();
            ASSERT_TRUE(waitUntil([&] { return idle() && status().starts_with("Done"); }))
                << status();
            EXPECT_EQ(checkedDataBytes(), modulatorSamples * 2U);
            EXPECT_TRUE(status().starts_with("Done: 1.09 s written to " + output + ", peak "))
                << status();
            EXPECT_EQ(status().find("−∞"), std::string::npos) << status();
            window.statusLine()->clear();
        }
    }

    TEST_F(WindowJob, TheStatusLineWarnsOfClippedSamplesOnlyWhenThereWereSome)
    {
        std::vector<std::uint8_t> loud;
        for (int i = 0; i < carrierSamples; ++i)
            test::appendUint16(loud, static_cast<std::uint16_t>((i / 40) % 2 ? 32000 : -32000));
        test::writeWaveFile(carrier, { 1, 1, 22050, 16 }, loud);
        test::writeWaveFile(modulator, { 1, 1, 22050, 16 }, loud);
        auto* gain = static_cast<QSlider*>(window.control(id::gainSlider));
        for (const int position : { 100, 0 }) {
            gain->setValue(position);
            button(id::vocodeButton)->click();
            ASSERT_TRUE(waitUntil([&] { return idle() && status().starts_with("Done"); }));
            EXPECT_TRUE(status().starts_with("Done: 1.36 s written")) << status();
            if (position == 100) {
                EXPECT_NE(status().find(", peak 0.0 dBFS — "), std::string::npos) << status();
                EXPECT_NE(
                    status().find(" samples clipped; an Output Gain of 0."), std::string::npos)
                    << status();
                EXPECT_TRUE(status().ends_with("× or less would not clip")) << status();
            } else {
                EXPECT_TRUE(status().ends_with(", peak −∞ dBFS")) << status();
            }
            EXPECT_EQ(window.statusWarningIcon()->isVisibleTo(&window), position == 100);
            window.statusLine()->clear();
        }
    }

    TEST_F(WindowJob, ARunSwitchesTheControlsIgnoresBrowseAndAboutAndRestoresThem)
    {
        PausingJob job(window);
        std::vector<FileChooserKind> chooserCalls;
        window.setFileChooser([&](QWidget*, FileChooserKind kind) {
            chooserCalls.push_back(kind);
            return std::optional<QString>("/somewhere/else.wav");
        });
        BoxAnswerer answerer;
        button(id::vocodeButton)->click();
        ASSERT_TRUE(waitUntil([&] { return job.gate().isPaused(); }));
        for (int controlId : { id::carrierPath, id::carrierBrowse, id::modulatorPath,
                 id::modulatorBrowse, id::outputPath, id::outputBrowse, id::aboutButton,
                 id::clearanceSlider, id::vaguenessSlider, id::gainSlider, id::previewButton })
            EXPECT_FALSE(window.control(controlId)->isEnabled()) << controlId;
        EXPECT_TRUE(button(id::vocodeButton)->isEnabled());
        EXPECT_EQ(button(id::vocodeButton)->text(), "Cancel");
        // The bar follows the job on the meters' next tick.
        EXPECT_TRUE(waitUntil([&] { return progress() > 0; }));
        EXPECT_TRUE(window.jobState().jobBusy);

        // Commands arriving while the buttons are disabled change nothing.
        for (int command :
            { id::carrierBrowse, id::modulatorBrowse, id::outputBrowse, id::aboutButton })
            window.runCommand(command);
        QTest::qWait(30);
        EXPECT_TRUE(chooserCalls.empty());
        EXPECT_TRUE(answerer.seen().empty());

        job.gate().release();
        ASSERT_TRUE(waitUntil([&] { return idle(); }));
        EXPECT_EQ(progress(), 100);
        expectIdleControls();
        EXPECT_EQ(edit(id::carrierPath)->text().toStdString(), carrier);
        EXPECT_EQ(checkedDataBytes(), modulatorSamples * 2U);
    }

    TEST_F(WindowJob, CancelEndsTheRunEarlyWithACompleteFile)
    {
        PausingJob job(window);
        button(id::vocodeButton)->click();
        ASSERT_TRUE(waitUntil([&] { return job.gate().isPaused(); }));
        ASSERT_TRUE(waitUntil([&] { return progress() > 0; }));
        EXPECT_EQ(status(), "Vocoding… " + std::to_string(progress()) + " %");
        button(id::vocodeButton)->click(); // it reads "Cancel" now
        EXPECT_TRUE(window.jobState().stopRequested);
        job.gate().release();
        ASSERT_TRUE(waitUntil([&] { return idle(); }));
        expectIdleControls();
        const std::uint32_t dataBytes = checkedDataBytes();
        EXPECT_GT(dataBytes, 0U);
        EXPECT_LT(dataBytes, modulatorSamples * 2U);
        // The bar stays where the run stopped: the share of the voice that was kept.
        EXPECT_LT(progress(), 100);
        EXPECT_NEAR(progress(), 100.0 * dataBytes / 2 / modulatorSamples, 1.0);
        EXPECT_FALSE(window.jobState().stopRequested);
        const QString kept = QString::number(dataBytes / 2 / 22050.0, 'f', 2);
        EXPECT_EQ(window.statusLine()->text(),
            "Cancelled: " + kept + " s of 1.09 s kept in " + QString::fromStdString(output));
    }

    TEST_F(WindowJob, APreviewOffersStopIgnoresVocodeAndKeepsTheSlidersLive)
    {
        PausingJob job(window);
        edit(id::outputPath)->clear();
        button(id::previewButton)->click();
        ASSERT_TRUE(waitUntil([&] { return job.gate().isPaused(); }));
        EXPECT_EQ(button(id::previewButton)->text(), "Stop");
        EXPECT_TRUE(button(id::previewButton)->isEnabled());
        EXPECT_FALSE(button(id::vocodeButton)->isEnabled());
        for (int controlId : { id::clearanceSlider, id::vaguenessSlider, id::gainSlider })
            EXPECT_TRUE(window.control(controlId)->isEnabled()) << controlId;
        EXPECT_TRUE(window.jobState().previewRunning);
        EXPECT_TRUE(waitUntil([&] { return status() == "Previewing… 0:00"; })) << status();

        window.runCommand(id::vocodeButton); // arrives although the button is disabled
        EXPECT_FALSE(window.jobState().stopRequested);
        button(id::previewButton)->click();
        EXPECT_TRUE(window.jobState().stopRequested);
        job.gate().release();
        ASSERT_TRUE(waitUntil([&] { return idle(); }));
        EXPECT_LT(progress(), 100); // the bar stays where the preview stopped
        expectIdleControls();
        EXPECT_FALSE(std::filesystem::exists(output));
        EXPECT_EQ(status(), "Preview stopped at 0:00"); // one block of 2048 samples was played

        button(id::previewButton)->click(); // once more, to the end on the silent device
        ASSERT_TRUE(waitUntil([&] {
            return idle()
                && status()
                == "Preview finished\nThe modulator ended first; 0.27 s of the carrier was left "
                   "out.";
        })) << status();
        EXPECT_EQ(progress(), 100);
    }

    TEST_F(WindowJob, ClosingDuringARunAndAnsweringNoLetsTheRunFinish)
    {
        PausingJob job(window);
        window.show();
        BoxAnswerer answerer(QMessageBox::No);
        button(id::vocodeButton)->click();
        ASSERT_TRUE(waitUntil([&] { return job.gate().isPaused(); }));
        EXPECT_FALSE(window.close());
        EXPECT_TRUE(window.jobState().closeRequested);
        job.gate().release();
        ASSERT_TRUE(waitUntil([&] { return idle(); }));
        ASSERT_EQ(answerer.seen().size(), 1U);
        EXPECT_EQ(answerer.seen().front().caption, "Question");
        EXPECT_EQ(
            answerer.seen().front().text, "Vocoding is in progress, would you like to abort it?");
        EXPECT_EQ(answerer.seen().front().defaultButton, QMessageBox::No);
        EXPECT_EQ(checkedDataBytes(), modulatorSamples * 2U);
        QTest::qWait(120);
        EXPECT_TRUE(exitCodes.empty());
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(window.jobState().closeRequested);
    }

    TEST_F(WindowJob, ClosingDuringARunAndAnsweringYesEndsTheProgramWithAFinishedFile)
    {
        PausingJob job(window);
        window.show();
        BoxAnswerer answerer(QMessageBox::Yes);
        button(id::vocodeButton)->click();
        ASSERT_TRUE(waitUntil([&] { return job.gate().isPaused(); }));
        EXPECT_FALSE(window.close());
        job.gate().release();
        ASSERT_TRUE(waitUntil([&] { return !exitCodes.empty(); }));
        EXPECT_EQ(exitCodes, std::vector { 0 });
        ASSERT_TRUE(waitUntil([&] { return !window.jobState().jobActive.load(); }));
        const std::uint32_t dataBytes = checkedDataBytes();
        EXPECT_GT(dataBytes, 0U);
        EXPECT_LT(dataBytes, modulatorSamples * 2U);
    }

    TEST_F(WindowJob, AJobThatFailsShowsItsErrorAndLeavesTheWindowIdle)
    {
        BoxAnswerer answerer;
        edit(id::carrierPath)->setText(QString::fromStdString(path("missing.wav")));
        button(id::vocodeButton)->click();
        ASSERT_TRUE(waitUntil([&] { return idle() && !answerer.seen().empty(); }));
        ASSERT_EQ(answerer.seen().size(), 1U);
        EXPECT_EQ(answerer.seen().front().caption, "Error");
        EXPECT_EQ(answerer.seen().front().text, "The carrier wave file could not be opened.");
        EXPECT_EQ(answerer.seen().front().informativeText.toStdString(),
            path("missing.wav") + ": No such file or directory");
        EXPECT_EQ(answerer.seen().front().icon, QMessageBox::Critical);
        ASSERT_TRUE(waitUntil([&] { return !status().starts_with("Drop"); }));
        EXPECT_EQ(status(),
            "Failed: the carrier wave file could not be opened (" + path("missing.wav")
                + ": No such file or directory)");

        const std::string nineChannels = path("nine.wav");
        test::writeWaveFile(
            nineChannels, { 1, 9, 22050, 16 }, std::vector<std::uint8_t>(9 * 2 * 100, 0));
        edit(id::carrierPath)->setText(QString::fromStdString(nineChannels));
        button(id::vocodeButton)->click();
        ASSERT_TRUE(waitUntil([&] { return idle() && answerer.seen().size() == 2; }));
        EXPECT_EQ(answerer.seen().back().text, "The carrier must have one or two channels.");
        EXPECT_EQ(
            answerer.seen().back().informativeText.toStdString(), nineChannels + ": 9 channels");
        expectIdleControls();
        EXPECT_EQ(progress(), 0);
        EXPECT_FALSE(std::filesystem::exists(output));
    }

    TEST_F(WindowJob, ClosingWhileAFailingJobIsSetUpEndsTheProgramAfterItsMessage)
    {
        BoxAnswerer answerer;
        window.show();
        edit(id::modulatorPath)->setText(QString::fromStdString(path("missing.wav")));
        button(id::vocodeButton)->click();
        // The job cannot show its message before this thread serves it, so it is still active.
        EXPECT_FALSE(window.close());
        ASSERT_TRUE(waitUntil([&] { return !exitCodes.empty(); }));
        EXPECT_EQ(exitCodes, std::vector { 0 });
        ASSERT_EQ(answerer.seen().size(), 1U);
        EXPECT_EQ(answerer.seen().front().text, "The modulator wave file could not be opened.");
    }

    TEST_F(WindowJob, AnInputIsNeverOverwrittenByTheOutput)
    {
        BoxAnswerer answerer;
        const std::vector<std::uint8_t> before = test::readFile(carrier);
        edit(id::outputPath)->setText(QString::fromStdString(carrier));
        button(id::vocodeButton)->click();
        ASSERT_TRUE(waitUntil([&] { return idle() && !answerer.seen().empty(); }));
        EXPECT_EQ(answerer.seen().front().caption, "Error");
        EXPECT_EQ(test::readFile(carrier), before);
    }

} // namespace
} // namespace lumivox::app
