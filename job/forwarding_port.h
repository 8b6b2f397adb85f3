#pragma once

#include "dialog_port.h"

namespace lumivox::job {

// Passes every call on to another front end; a wrapper overrides only the calls it watches.
class ForwardingPort : public DialogPort {
public:
    explicit ForwardingPort(DialogPort& frontEnd)
        : next(frontEnd)
    {
    }

    int readSlider(int controlId) override { return next.readSlider(controlId); }
    void setProgress(int percent) override { next.setProgress(percent); }
    void setButtonText(int controlId, std::string_view text) override
    {
        next.setButtonText(controlId, text);
    }
    void enableControl(int controlId, bool enabled) override
    {
        next.enableControl(controlId, enabled);
    }
    void showError(std::string_view message) override { next.showError(message); }
    void showFailure(std::string_view message, const FailureDetail& detail) override
    {
        next.showFailure(message, detail);
    }
    bool askQuestion(std::string_view message) override { return next.askQuestion(message); }
    void endProgram() override { next.endProgram(); }
    void reportRunEnd(const RunReport& report) override { next.reportRunEnd(report); }

private:
    DialogPort& next;
};

} // namespace lumivox::job
