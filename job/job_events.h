#pragma once

#include "job_settings.h"
#include "run_report.h"

#include <string_view>

namespace lumivox::job {

// What a running job tells its front end (the window, the command line or a test fake), and the
// two things it asks. The job calls these from its own thread; a front end decides how to reach
// its widgets and which of them a run takes over.
class JobEvents {
public:
    virtual ~JobEvents() = default;

    // Read before each Preview block: the sound settings as they stand now. The default keeps
    // what the run started with.
    virtual SoundSettings liveSound(const SoundSettings& current) { return current; }
    // The run has begun and holds the controls until released(); progress is at 0.
    virtual void started(JobMode mode) = 0;
    virtual void progress(int percent) = 0; // 0..100
    // Modal: the job's sentence and its second line, naming the file and the cause (either may
    // be empty). A front end that has no place for the second line shows the message alone.
    virtual void showFailure(std::string_view message, const FailureDetail& detail) = 0;
    // Modal, buttons Yes and No with No the default; true when Yes.
    virtual bool askQuestion(std::string_view message) = 0;
    // The program is to end with exit code 0 once the job has returned; never called twice.
    virtual void endProgram() = 0;
    // The run has let go of its files and stream, and of the controls started() took.
    virtual void released(JobMode mode) = 0;
    // How the run ended; once per run that did not end the program, after released().
    virtual void ended(const RunReport& report) = 0;
};

} // namespace lumivox::job
