#include "window_port.h"

#include "main_window.h"

#include <QMetaObject>
#include <QString>
#include <QThread>

namespace lumivox::app {

namespace {
    QString toQString(std::string_view text)
    {
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
}

WindowPort::WindowPort(MainWindow& window_)
    : window(window_)
{
}

template <typename Operation> void WindowPort::onWindowThread(Operation&& operation)
{
    if (detached)
        return;
    if (QThread::currentThread() == window.thread())
        operation();
    else
        QMetaObject::invokeMethod(&window, operation, Qt::BlockingQueuedConnection);
}

job::SoundSettings WindowPort::liveSound(const job::SoundSettings& current)
{
    job::SoundSettings sound = current;
    onWindowThread([&] { sound = window.soundSettings(); });
    return sound;
}

void WindowPort::started(job::JobMode mode)
{
    onWindowThread([&] { window.showRunStarted(mode); });
}

void WindowPort::progress(int percent)
{
    // Nothing the job does waits on the bar, so the position is posted rather than handed over:
    // a hand-over would stop the job each percent until the window's thread came round. Posted
    // events keep their order with the handed-over ones.
    if (detached)
        return;
    if (QThread::currentThread() == window.thread())
        window.setProgress(percent);
    else
        QMetaObject::invokeMethod(
            &window, [target = &window, percent] { target->setProgress(percent); },
            Qt::QueuedConnection);
}

void WindowPort::showFailure(std::string_view message, const job::FailureDetail& detail)
{
    const QString text = toQString(message);
    const QString informative = toQString(detail.line());
    onWindowThread([&] { window.showError(text, informative); });
}

bool WindowPort::askQuestion(std::string_view message)
{
    const QString text = toQString(message);
    bool yes = false;
    onWindowThread([&] { yes = window.askQuestion(text); });
    return yes;
}

void WindowPort::released(job::JobMode mode)
{
    onWindowThread([&] { window.showRunReleased(mode); });
}

void WindowPort::ended(const job::RunReport& report)
{
    onWindowThread([&] { window.showRunEnd(report); });
}

void WindowPort::endProgram()
{
    onWindowThread([&] { window.endProgram(); });
    // Whatever the job still calls after this must not wait for a loop that has ended.
    detach();
}

} // namespace lumivox::app
