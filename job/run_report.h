#pragma once

#include "job_settings.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace lumivox::job {

enum class JobOutcome {
    Finished, // the shorter input was used up
    Stopped, // Cancel or Stop ended the run early; the output is complete as far as it went
    Failed, // a check, a read or a write failed; the message has been shown through the port
    ProgramEnded, // a close request ended the run and endProgram() was called
};

// The second line of a failure's message: the file concerned (may be empty) and the cause.
struct FailureDetail {
    std::string file;
    std::string cause;

    // "file: cause", or whichever of the two there is.
    [[nodiscard]] std::string line() const
    {
        if (file.empty() || cause.empty())
            return file + cause;
        return file + ": " + cause;
    }
};

// An input whose data ended before the length its data chunk declares: the file was cut short by
// someone else, or written that way. The run used what there was.
struct ShortInput {
    bool modulator = false; // else the carrier
    double secondsRead = 0.0;
    double secondsDeclared = 0.0;
};

// "the modulator's data ended at 12.3 s of 7200.0 s declared"
[[nodiscard]] std::string shortInputWarning(const ShortInput& input);

// How a run ended, told to the front end once, after the controls are handed back, so that it can
// say what happened. A run that ends the program reports nothing.
struct RunReport {
    JobMode mode = JobMode::Vocode;
    JobOutcome outcome = JobOutcome::Finished;
    double secondsDone = 0.0; // audio written (Vocode) or handed to the device (Preview)
    double secondsTotal = 0.0; // the shorter input's length; 0 when the inputs were refused
    // False when secondsTotal rests on a length no file bore out (a wave header declaring more
    // than its file held): it is then no figure to show.
    bool totalKnown = true;
    std::uint64_t clippedSamples = 0; // output samples that had to be clamped to full scale
    // What was done to the inputs to vocode them ("modulator resampled from 22050 Hz to 44100
    // Hz"); empty when nothing was.
    std::string conversion;
    double peak = 0.0; // the loudest output sample as a fraction of full scale
    // The largest Output Gain (a factor) at which nothing would have clipped.
    double clipFreeGain = std::numeric_limits<double>::infinity();
    // Each input's length as far as it was read (for a finished run: the shorter one whole, the
    // other counted on past the end, see leftOutAtLeast); 0 when the inputs were refused.
    double carrierSeconds = 0.0;
    double modulatorSeconds = 0.0;
    // The longer input was counted only so far: there was more of it than its seconds say.
    bool leftOutAtLeast = false;
    // The output holds float samples, which are not clamped: those beyond full scale are kept,
    // and the peak may lie above full scale.
    bool floatOutput = false;
    // Said about the output after the run: that a name's ending is not a format that is written
    // ("written as WAV: '.xyz' is not ..."); empty otherwise.
    std::string outputNote;
    // For a normalized output: the change of level it was given, in decibels.
    std::optional<double> normalizedByDecibels;
    std::string failure; // the message shown for a failed run; empty otherwise
    std::string failureDetail; // its second line (FailureDetail::line), when known
    std::optional<ShortInput> shortInput; // the input whose data ended early, if one did
};

} // namespace lumivox::job
