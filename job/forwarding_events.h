#pragma once

#include "job_events.h"

namespace lumivox::job {

// Passes every event on to another front end; a wrapper overrides only the events it watches.
class ForwardingEvents : public JobEvents {
public:
    explicit ForwardingEvents(JobEvents& frontEnd)
        : next(frontEnd)
    {
    }

    SoundSettings liveSound(const SoundSettings& current) override
    {
        return next.liveSound(current);
    }
    void started(JobMode mode) override { next.started(mode); }
    void progress(int percent) override { next.progress(percent); }
    void showFailure(std::string_view message, const FailureDetail& detail) override
    {
        next.showFailure(message, detail);
    }
    bool askQuestion(std::string_view message) override { return next.askQuestion(message); }
    void endProgram() override { next.endProgram(); }
    void released(JobMode mode) override { next.released(mode); }
    void ended(const RunReport& report) override { next.ended(report); }

private:
    JobEvents& next;
};

} // namespace lumivox::job
