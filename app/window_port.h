#pragma once

#include "job/job_events.h"

#include <atomic>

namespace lumivox::app {

class MainWindow;

// The job's events as the main window takes them. Every one is served on the window's thread:
// from the job's thread it is handed over and waited for, like a sent message (progress alone is
// posted, as nothing waits on it); on the window's own thread it runs directly (a blocking
// hand-over to oneself would never return).
class WindowPort final : public job::JobEvents {
public:
    explicit WindowPort(MainWindow& window);

    job::SoundSettings liveSound(const job::SoundSettings& current) override;
    void started(job::JobMode mode) override;
    void progress(int percent) override;
    void showFailure(std::string_view message, const job::FailureDetail& detail) override;
    bool askQuestion(std::string_view message) override;
    void endProgram() override;
    void released(job::JobMode mode) override;
    void ended(const job::RunReport& report) override;

    // From now on every call returns at once without touching the window: its event loop has
    // ended or it is being destroyed.
    void detach() { detached = true; }
    [[nodiscard]] bool isDetached() const { return detached; }

private:
    template <typename Operation> void onWindowThread(Operation&& operation);

    MainWindow& window;
    std::atomic<bool> detached { false };
};

} // namespace lumivox::app
