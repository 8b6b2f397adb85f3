#pragma once

#include "job/dialog_port.h"

#include <atomic>

namespace lumivox::app {

class MainWindow;

// The job's way into the main window. Every operation runs on the window's thread: called from
// the job's thread it is handed over and waited for, like a sent message (progress alone is
// posted, as nothing waits on it); called on the window's own thread it runs directly (a blocking
// hand-over to oneself would never return).
class WindowPort final : public job::DialogPort {
public:
    explicit WindowPort(MainWindow& window);

    int readSlider(int controlId) override;
    void setProgress(int percent) override;
    void setButtonText(int controlId, std::string_view text) override;
    void enableControl(int controlId, bool enabled) override;
    void showError(std::string_view message) override;
    void showFailure(std::string_view message, const job::FailureDetail& detail) override;
    bool askQuestion(std::string_view message) override;
    void endProgram() override;
    void reportRunEnd(const job::RunReport& report) override;

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
