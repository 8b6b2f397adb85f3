#include "live_runner.h"

#include <QMetaObject>

namespace lumivox::app {

class LiveRunner::Events final : public job::LiveEvents {
public:
    explicit Events(LiveRunner& owner)
        : runner(owner)
    {
    }
    void started(const job::LiveStart& start) override
    {
        post([this, start] { runner.calls.started(start); });
    }
    void status(const job::LiveStatus& status) override
    {
        post([this, status] { runner.calls.status(status); });
    }
    void sessionReady(job::LiveSession& session) override
    {
        const std::lock_guard lock(runner.sessionMutex);
        runner.session = &session;
    }
    void sessionEnding() override
    {
        const std::lock_guard lock(runner.sessionMutex);
        runner.session = nullptr;
    }
    template <typename Call> void post(Call call)
    {
        if (QObject* receiver = runner.target)
            QMetaObject::invokeMethod(receiver, std::move(call), Qt::QueuedConnection);
    }

private:
    LiveRunner& runner;
};

LiveRunner::LiveRunner(QObject* receiver, Callbacks callbacks, job::OpenLiveAudio openAudio)
    : target(receiver)
    , calls(std::move(callbacks))
    , opener(std::move(openAudio))
{
}

LiveRunner::~LiveRunner()
{
    stopRequested = true;
    if (thread.joinable())
        thread.join();
}

bool LiveRunner::start(const job::LiveSettings& settings)
{
    if (active)
        return false;
    finishThread();
    stopRequested = false;
    active = true;
    thread = std::thread([this, settings] {
        Events events(*this);
        const job::LiveEnding ending = job::runLive(settings, stopRequested, events, opener);
        events.post([this, ending] {
            finishThread();
            active = false;
            calls.ended(ending);
        });
    });
    return true;
}

void LiveRunner::finishThread()
{
    // Called once the run has posted its end: the thread has nothing left but to return.
    if (thread.joinable())
        thread.join();
}

void LiveRunner::setSound(const job::SoundSettings& sound)
{
    const std::lock_guard lock(sessionMutex);
    if (session != nullptr)
        session->setSound(sound);
}

} // namespace lumivox::app
