#pragma once

#include "job/run_report.h"

#include <string>
#include <string_view>

namespace lumivox::cli {

// What lumivox-cli says after a run that did not fail, one line each after the program's name:
// the seconds written and their peak (a finished Vocode), what was done to the inputs ("modulator
// resampled from 22050 Hz to 44100 Hz"), the samples clipped and the --gain that
// would not have clipped, and which input ended first. Empty when there is nothing to say.
std::string runEndLines(const job::RunReport& report, std::string_view outputPath);

// A level in decibels below full scale with one decimal, as a terminal shows it: "-11.2 dBFS",
// "0.0 dBFS", "-inf dBFS" for silence.
std::string dbfsText(double peak);

} // namespace lumivox::cli
