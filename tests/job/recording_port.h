#pragma once

#include "job_events.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lumivox::job::test {

// The settings with another mode.
inline JobSettings inMode(JobSettings settings, JobMode mode)
{
    settings.mode = mode;
    return settings;
}

inline const char* modeName(JobMode mode)
{
    return mode == JobMode::Preview ? "Preview" : "Vocode";
}

// A front end that writes down every event of the job, in order, and answers from its fields.
// Events read "started Vocode", "progress 20", "error <text>", "question <text>", "end",
// "released Preview"; reads of the live sound settings are counted apart, as they would clutter
// the sequence.
class RecordingPort : public JobEvents {
public:
    SoundSettings liveSound(const SoundSettings& current) override
    {
        if (onSoundRead)
            onSoundRead();
        std::lock_guard lock(mutex);
        ++soundReads;
        return live ? *live : current;
    }
    void started(JobMode mode) override { record(std::string("started ") + modeName(mode)); }
    void progress(int percent) override
    {
        record("progress " + std::to_string(percent));
        if (onProgress)
            onProgress(percent);
    }
    void showFailure(std::string_view message, const FailureDetail&) override
    {
        record("error " + std::string(message));
    }
    bool askQuestion(std::string_view message) override
    {
        record("question " + std::string(message));
        return answerYes;
    }
    void endProgram() override { record("end"); }
    void released(JobMode mode) override { record(std::string("released ") + modeName(mode)); }
    void ended(const RunReport& report) override
    {
        std::lock_guard lock(mutex);
        reports.push_back(report);
    }

    std::vector<std::string> allEvents() const
    {
        std::lock_guard lock(mutex);
        return events;
    }
    // The events that start with the prefix, in order.
    std::vector<std::string> eventsStartingWith(const std::string& prefix) const
    {
        std::vector<std::string> chosen;
        for (const std::string& event : allEvents())
            if (event.rfind(prefix, 0) == 0)
                chosen.push_back(event);
        return chosen;
    }
    // Every event but the progress positions: the start and release of the controls and the
    // messages.
    std::vector<std::string> controlEvents() const
    {
        std::vector<std::string> chosen;
        for (const std::string& event : allEvents())
            if (event.rfind("progress ", 0) != 0)
                chosen.push_back(event);
        return chosen;
    }

    // What the live settings say during a Preview; none: what the run started with.
    std::optional<SoundSettings> live;
    bool answerYes = false;
    std::function<void(int percent)> onProgress;
    std::function<void()> onSoundRead;
    int soundReads = 0;
    std::vector<RunReport> reports; // kept apart from the events: one per run that ended

private:
    void record(std::string event)
    {
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
    }

    mutable std::mutex mutex;
    std::vector<std::string> events;
};

} // namespace lumivox::job::test
