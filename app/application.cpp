#include "application.h"

#include "job/audio_library.h"
#include "main_window.h"
#include "program_icon.h"
#include "termination_signals.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

namespace lumivox::app {

namespace {
    // Qt ends the process when it finds no display; say so and leave with 1 instead.
    bool displayAvailable()
    {
        for (const char* variable : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" }) {
            const char* value = std::getenv(variable);
            if (value != nullptr && *value != '\0')
                return true;
        }
        return false;
    }

    // Closes the modal boxes now open, pressing each one's escape button (No for the question),
    // so that nothing waits for an answer.
    void closeModalBoxes()
    {
        for (int depth = 0; depth < 8; ++depth) {
            QWidget* box = QApplication::activeModalWidget();
            if (box == nullptr)
                return;
            box->close();
        }
    }

    // SIGTERM or SIGHUP: a running job is stopped as Cancel stops it, so the output is finished as
    // far as it was written, and the program then ends with 0 without asking anything.
    void endOnSignal(MainWindow& window, QTimer& waitForJob)
    {
        job::JobState& state = window.jobState();
        state.stopRequested = true;
        if (waitForJob.isActive())
            return; // a second signal while the first is being served
        QObject::connect(&waitForJob, &QTimer::timeout, &window, [&state] {
            closeModalBoxes();
            if (!state.jobActive)
                QCoreApplication::exit(0);
        });
        waitForJob.start(10);
    }

    // The display named in Qt's warning that it could not connect; empty until then.
    QString unreachableDisplay;

    // Qt's own remarks (a missing runtime folder when started as root and the like) are not for
    // the user of a desktop program; real failures still get through. A display that cannot be
    // reached would end in Qt's fatal plugin error and an abort, with paragraphs of advice: it is
    // one line and exit status 1 instead.
    void quietMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        static const QString connectFailure = QStringLiteral("could not connect to display");
        if (type == QtWarningMsg && message.startsWith(connectFailure))
            unreachableDisplay = message.mid(connectFailure.size()).trimmed();
        if (type == QtFatalMsg && !unreachableDisplay.isEmpty()) {
            std::fprintf(
                stderr, "lumivox: cannot connect to display %s\n", qPrintable(unreachableDisplay));
            std::fflush(stderr);
            std::_Exit(1); // Qt is half set up: nothing may run after this, not even destructors
        }
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "lumivox: %s\n", qPrintable(message));
    }
}

int refuseSecondStart()
{
    std::fputs("lumivox: Lumivox is already running on this computer\n", stderr);
    return 0;
}

int runApplication(engine::VectorChoice vectors)
{
    if (!displayAvailable()) {
        std::fputs("lumivox: no display to show the window on; lumivox-cli vocodes without one.\n",
            stderr);
        return 1;
    }
    qInstallMessageHandler(quietMessageHandler);

    // Command-line arguments are ignored, so Qt is not shown them either.
    static char programName[] = "lumivox";
    static char* arguments[] = { programName, nullptr };
    int argumentCount = 1;
    QApplication application(argumentCount, arguments);
    QApplication::setApplicationName(QStringLiteral("Lumivox"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setWindowIcon(programIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral(LUMIVOX_APP_ID));
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<MainWindow> window;
    try {
        window = std::make_unique<MainWindow>();
    } catch (const std::exception&) {
        return 1;
    }
    window->setVectorChoice(vectors);
    QTimer waitForJob;
    const TerminationSignals termination([&] { endOnSignal(*window, waitForJob); });
    window->show();
    const int exitCode = QApplication::exec();
    window.reset();
    job::endAudioLibrary();
    return exitCode;
}

} // namespace lumivox::app
