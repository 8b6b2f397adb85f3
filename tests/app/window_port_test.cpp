#include "app_test_support.h"
#include "control_ids.h"
#include "main_window.h"
#include "window_port.h"

#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace lumivox::app {
namespace {

    namespace id = app::control;
    using test::BoxAnswerer;
    using test::waitUntil;

    // Runs a piece of work on its own thread, as a job would, while the test keeps the GUI
    // thread's events flowing; the thread is joined only after it has said it is done.
    class WorkerThread {
    public:
        explicit WorkerThread(std::function<void()> work)
            : thread([this, work = std::move(work)] {
                work();
                done = true;
            })
        {
        }
        ~WorkerThread()
        {
            static_cast<void>(waitUntil([this] { return done.load(); }));
            thread.join();
        }
        [[nodiscard]] bool finished() const { return done; }

    private:
        std::atomic<bool> done { false };
        std::thread thread;
    };

    TEST(WindowPort, CallsFromAnotherThreadRunOnTheWindowThread)
    {
        MainWindow window;
        job::JobEvents& port = window.jobEvents();
        static_cast<QSlider*>(window.control(id::vaguenessSlider))->setValue(37);
        static_cast<QSlider*>(window.control(id::claritySlider))->setValue(63);
        job::SoundSettings sound { -1, -1, -1, -1 };
        QThread* progressThread = nullptr;
        auto* progress = static_cast<QProgressBar*>(window.control(id::progressBar));
        QObject::connect(progress, &QProgressBar::valueChanged,
            [&progressThread](int) { progressThread = QThread::currentThread(); });
        {
            WorkerThread worker([&] {
                port.started(job::JobMode::Vocode);
                sound = port.liveSound({});
                port.progress(42);
            });
            ASSERT_TRUE(waitUntil([&] { return worker.finished(); }));
        }
        // The progress is posted: it may arrive after the worker has finished.
        EXPECT_TRUE(waitUntil([&] { return progress->value() == 42; }));
        EXPECT_EQ(sound.clearance, 0);
        EXPECT_EQ(sound.vagueness, 37);
        EXPECT_EQ(sound.gain, 50);
        EXPECT_EQ(sound.clarity, 63);
        EXPECT_EQ(progress->value(), 42);
        EXPECT_EQ(progressThread, window.thread());
        EXPECT_EQ(static_cast<QPushButton*>(window.control(id::vocodeButton))->text(), "Cancel");
        EXPECT_FALSE(window.control(id::previewButton)->isEnabled());
    }

    TEST(WindowPort, CallsOnTheWindowThreadRunDirectly)
    {
        MainWindow window;
        job::JobEvents& port = window.jobEvents();
        port.started(job::JobMode::Preview);
        port.progress(7);
        EXPECT_EQ(static_cast<QProgressBar*>(window.control(id::progressBar))->value(), 7);
        EXPECT_FALSE(window.control(id::aboutButton)->isEnabled());
        EXPECT_EQ(port.liveSound({}).gain, 50);
        port.released(job::JobMode::Preview);
        EXPECT_TRUE(window.control(id::aboutButton)->isEnabled());
    }

    // Which controls each kind of run takes over, and the captions it gives its button.
    TEST(WindowPort, ARunTakesOverTheControlsItMustAndHandsThemBack)
    {
        struct Case {
            job::JobMode mode;
            int runningButton;
            const char* runningCaption;
            const char* idleCaption;
            int otherButton;
            bool slidersFree;
        };
        const Case cases[] = {
            { job::JobMode::Vocode, id::vocodeButton, "Cancel", "Vocode", id::previewButton,
                false },
            { job::JobMode::Preview, id::previewButton, "Stop", "Preview", id::vocodeButton, true },
        };
        const int pathControls[] = { id::carrierKind, id::carrierPath, id::carrierBrowse,
            id::repeatCarrier, id::modulatorPath, id::modulatorBrowse, id::outputPath,
            id::outputBrowse, id::aboutButton };
        const int sliders[]
            = { id::clearanceSlider, id::vaguenessSlider, id::gainSlider, id::claritySlider };
        for (const Case& run : cases) {
            SCOPED_TRACE(run.idleCaption);
            MainWindow window;
            job::JobEvents& port = window.jobEvents();
            auto* button = static_cast<QPushButton*>(window.control(run.runningButton));
            port.started(run.mode);
            EXPECT_EQ(button->text(), run.runningCaption);
            EXPECT_TRUE(button->isEnabled());
            EXPECT_FALSE(window.control(run.otherButton)->isEnabled());
            for (const int controlId : pathControls)
                EXPECT_FALSE(window.control(controlId)->isEnabled()) << controlId;
            for (const int controlId : sliders)
                EXPECT_EQ(window.control(controlId)->isEnabled(), run.slidersFree) << controlId;
            port.released(run.mode);
            EXPECT_EQ(button->text(), run.idleCaption);
            EXPECT_TRUE(window.control(run.otherButton)->isEnabled());
            for (const int controlId : pathControls)
                EXPECT_TRUE(window.control(controlId)->isEnabled()) << controlId;
            for (const int controlId : sliders)
                EXPECT_TRUE(window.control(controlId)->isEnabled()) << controlId;
        }
    }

    TEST(WindowPort, ErrorsAndQuestionsAreModalBoxesOnTheWindowThread)
    {
        MainWindow window;
        job::JobEvents& port = window.jobEvents();
        BoxAnswerer answerer(QMessageBox::Yes);
        bool firstAnswer = false;
        bool secondAnswer = true;
        {
            WorkerThread worker([&] {
                port.showFailure("The carrier wave file could not be opened.", {});
                firstAnswer
                    = port.askQuestion("Vocoding is in progress, would you like to abort it?");
                answerer.setAnswer(QMessageBox::No);
                secondAnswer = port.askQuestion("Again?");
            });
            ASSERT_TRUE(waitUntil([&] { return worker.finished(); }));
        }
        ASSERT_EQ(answerer.seen().size(), 3U);
        const test::SeenBox& error = answerer.seen()[0];
        EXPECT_EQ(error.caption, "Error");
        EXPECT_EQ(error.text, "The carrier wave file could not be opened.");
        EXPECT_EQ(error.icon, QMessageBox::Critical);
        EXPECT_EQ(error.buttons, QMessageBox::Ok);
        const test::SeenBox& question = answerer.seen()[1];
        EXPECT_EQ(question.caption, "Question");
        EXPECT_EQ(question.icon, QMessageBox::NoIcon);
        EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(question.defaultButton, QMessageBox::No);
        EXPECT_TRUE(firstAnswer);
        EXPECT_FALSE(secondAnswer);
    }

    TEST(WindowPort, EndProgramQuitsWithZeroAndLeavesTheWindowAloneAfterwards)
    {
        MainWindow window;
        std::vector<int> exitCodes;
        window.setQuitHandler([&](int exitCode) { exitCodes.push_back(exitCode); });
        job::JobEvents& port = window.jobEvents();
        int laterGain = -1;
        {
            WorkerThread worker([&] {
                port.endProgram();
                // The loop has ended: further calls return at once instead of waiting for it.
                port.progress(99);
                laterGain = port.liveSound({ 0, 0, 7 }).gain;
            });
            ASSERT_TRUE(waitUntil([&] { return worker.finished(); }));
        }
        EXPECT_EQ(exitCodes, std::vector { 0 });
        EXPECT_EQ(static_cast<QProgressBar*>(window.control(id::progressBar))->value(), 0);
        EXPECT_EQ(laterGain, 7); // what the job had, not the window's 50
    }

    TEST(WindowPort, DestroyingTheWindowServesAJobWaitingOnIt)
    {
        auto window = std::make_unique<MainWindow>();
        job::JobState& state = window->jobState();
        job::JobEvents& port = window->jobEvents();
        state.jobActive = true;
        std::atomic<int> calls { 0 };
        std::atomic<bool> callAfterStop { false };
        std::thread job([&] {
            // A job that keeps talking to the window until it is told to stop.
            while (!state.stopRequested) {
                port.progress(calls % 100);
                ++calls;
            }
            port.progress(100);
            callAfterStop = true;
            state.jobActive = false; // the job's last touch of the window's state
        });
        ASSERT_TRUE(waitUntil([&] { return calls > 10; }));
        window.reset(); // must neither hang nor let the job touch a deleted window
        EXPECT_TRUE(callAfterStop);
        job.join();
    }

} // namespace
} // namespace lumivox::app
