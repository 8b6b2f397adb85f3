#pragma once

#include "run_report.h"

#include <string_view>

namespace lumivox::job {

// What a running job may do to its front end (the window, the command line or a test fake).
// The job calls these from its own thread; an implementation decides how to reach its widgets.
class DialogPort {
public:
    virtual ~DialogPort() = default;

    virtual int readSlider(int controlId) = 0; // ids 10, 12, 14; a position 0..100
    virtual void setProgress(int percent) = 0; // the progress bar, 0..100
    virtual void setButtonText(int controlId, std::string_view text) = 0;
    virtual void enableControl(int controlId, bool enabled) = 0;
    virtual void showError(std::string_view message) = 0; // modal, caption "Error", error icon
    // The same with a second line naming the file and the cause (either may be empty). A front
    // end that has no place for it shows the message alone.
    virtual void showFailure(std::string_view message, const FailureDetail& /*detail*/)
    {
        showError(message);
    }
    // Modal, caption "Question", buttons Yes and No with No the default; true when Yes.
    virtual bool askQuestion(std::string_view message) = 0;
    // The program is to end with exit code 0 once the job has returned; never called twice.
    virtual void endProgram() = 0;
    // The run has ended and the controls are back; called once per run that did not end the
    // program.
    virtual void reportRunEnd(const RunReport&) { }
};

} // namespace lumivox::job
