#include "job_thread.h"

#include "forwarding_events.h"

#include <system_error>
#include <utility>

namespace lumivox::job {

namespace {

    // Passes every call on, noting when the job asks the program to end.
    class EndWatchingEvents final : public ForwardingEvents {
    public:
        EndWatchingEvents(JobEvents& frontEnd, std::atomic<bool>& endingProgram)
            : ForwardingEvents(frontEnd)
            , ending(endingProgram)
        {
        }

        void endProgram() override
        {
            ending = true;
            ForwardingEvents::endProgram();
        }

    private:
        std::atomic<bool>& ending;
    };

} // namespace

JobThread::JobThread(JobState& jobState, JobEvents& frontEnd)
    : state(jobState)
    , events(frontEnd)
{
}

JobThread::~JobThread()
{
    if (!worker.joinable())
        return;
    // A job that has returned, or has asked the program to end, makes no further calls on the
    // front end, so joining it cannot hang. One still running may be waiting on the front end
    // that is going away; it is left to end with the process.
    if (!state.jobActive || endingProgram)
        worker.join();
    else
        worker.detach();
}

JobThread::StartResult JobThread::tryStart(JobSettings settings)
{
    bool idle = false;
    if (!state.jobActive.compare_exchange_strong(idle, true))
        return StartResult::AlreadyActive;
    // The previous job cleared jobActive as its very last act, so this join returns at once.
    if (worker.joinable())
        worker.join();
    endingProgram = false;
    try {
        worker = std::thread([this, settings = std::move(settings)] {
            EndWatchingEvents watched(events, endingProgram);
            static_cast<void>(runVocodingJob(settings, state, watched));
            state.jobActive = false;
        });
    } catch (const std::system_error&) {
        state.jobActive = false;
        return StartResult::ThreadFailed;
    }
    return StartResult::Started;
}

} // namespace lumivox::job
