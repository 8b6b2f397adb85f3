#pragma once

#include "dialog_port.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace lumivox::job::test {

// A front end that writes down every call the job makes, in order, and answers from its fields.
// Events read "progress 20", "enable 15 0", "text 16 Stop", "error <text>", "question <text>",
// "end"; slider reads are counted apart, as they would clutter the control sequence.
class RecordingPort : public DialogPort {
public:
    int readSlider(int controlId) override
    {
        if (onSliderRead)
            onSliderRead(controlId);
        std::lock_guard lock(mutex);
        ++sliderReads[controlId];
        return sliderPositions[controlId];
    }
    void setProgress(int percent) override
    {
        record("progress " + std::to_string(percent));
        if (onProgress)
            onProgress(percent);
    }
    void setButtonText(int controlId, std::string_view text) override
    {
        record("text " + std::to_string(controlId) + " " + std::string(text));
    }
    void enableControl(int controlId, bool enabled) override
    {
        record("enable " + std::to_string(controlId) + (enabled ? " 1" : " 0"));
    }
    void showError(std::string_view message) override { record("error " + std::string(message)); }
    bool askQuestion(std::string_view message) override
    {
        record("question " + std::string(message));
        return answerYes;
    }
    void endProgram() override { record("end"); }
    void reportRunEnd(const RunReport& report) override
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
    // Every event but the progress positions: the switching of the controls and the messages.
    std::vector<std::string> controlEvents() const
    {
        std::vector<std::string> chosen;
        for (const std::string& event : allEvents())
            if (event.rfind("progress ", 0) != 0)
                chosen.push_back(event);
        return chosen;
    }

    std::map<int, int> sliderPositions { { 10, 0 }, { 12, 0 }, { 14, 50 } };
    bool answerYes = false;
    std::function<void(int percent)> onProgress;
    std::function<void(int controlId)> onSliderRead;
    std::map<int, int> sliderReads;
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
