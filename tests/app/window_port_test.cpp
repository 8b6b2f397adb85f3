#include "app_test_support.h"
#include "job/control_ids.h"
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

    namespace id = job::control;
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
        job::DialogPort& port = window.dialogPort();
        static_cast<QSlider*>(window.control(id::vaguenessSlider))->setValue(37);
        int clearance = -1;
        int vagueness = -1;
        int gain = -1;
        QThread* progressThread = nullptr;
        auto* progress = static_cast<QProgressBar*>(window.control(id::progressBar));
        QObject::connect(progress, &QProgressBar::valueChanged,
            [&progressThread](int) { progressThread = QThread::currentThread(); });
        {
            WorkerThread worker([&] {
                clearance = port.readSlider(id::clearanceSlider);
                vagueness = port.readSlider(id::vaguenessSlider);
                gain = port.readSlider(id::gainSlider);
                port.setProgress(42);
                port.setButtonText(id::vocodeButton, "Cancel");
                port.enableControl(id::previewButton, false);
            });
            ASSERT_TRUE(waitUntil([&] { return worker.finished(); }));
        }
        EXPECT_EQ(clearance, 0);
        EXPECT_EQ(vagueness, 37);
        EXPECT_EQ(gain, 50);
        EXPECT_EQ(progress->value(), 42);
        EXPECT_EQ(progressThread, window.thread());
        EXPECT_EQ(static_cast<QPushButton*>(window.control(id::vocodeButton))->text(), "Cancel");
        EXPECT_FALSE(window.control(id::previewButton)->isEnabled());
    }

    TEST(WindowPort, CallsOnTheWindowThreadRunDirectly)
    {
        MainWindow window;
        job::DialogPort& port = window.dialogPort();
        port.setProgress(7);
        port.enableControl(id::aboutButton, false);
        EXPECT_EQ(static_cast<QProgressBar*>(window.control(id::progressBar))->value(), 7);
        EXPECT_FALSE(window.control(id::aboutButton)->isEnabled());
        EXPECT_EQ(port.readSlider(id::gainSlider), 50);
    }

    TEST(WindowPort, ErrorsAndQuestionsAreModalBoxesOnTheWindowThread)
    {
        MainWindow window;
        job::DialogPort& port = window.dialogPort();
        BoxAnswerer answerer(QMessageBox::Yes);
        bool firstAnswer = false;
        bool secondAnswer = true;
        {
            WorkerThread worker([&] {
                port.showError("The carrier wave file could not be opened.");
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
        job::DialogPort& port = window.dialogPort();
        int laterPosition = -1;
        {
            WorkerThread worker([&] {
                port.endProgram();
                // The loop has ended: further calls return at once instead of waiting for it.
                port.setProgress(99);
                laterPosition = port.readSlider(id::gainSlider);
            });
            ASSERT_TRUE(waitUntil([&] { return worker.finished(); }));
        }
        EXPECT_EQ(exitCodes, std::vector { 0 });
        EXPECT_EQ(static_cast<QProgressBar*>(window.control(id::progressBar))->value(), 0);
        EXPECT_EQ(laterPosition, 0);
    }

    TEST(WindowPort, DestroyingTheWindowServesAJobWaitingOnIt)
    {
        auto window = std::make_unique<MainWindow>();
        job::JobState& state = window->jobState();
        job::DialogPort& port = window->dialogPort();
        state.jobActive = true;
        std::atomic<int> calls { 0 };
        std::atomic<bool> callAfterStop { false };
        std::thread job([&] {
            // A job that keeps talking to the window until it is told to stop.
            while (!state.stopRequested) {
                port.setProgress(calls % 100);
                ++calls;
            }
            port.setProgress(100);
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
