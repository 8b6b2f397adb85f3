#pragma once

#include <string>

namespace lumivox::wave {

// Why a wave file could not be opened or created.
enum class WaveFileProblem {
    None,
    System, // the system refused; systemError holds errno
    NotRegularFile, // a folder, device, pipe or socket
    InUse, // another Lumivox run writes the file
    BeingRead, // another Lumivox run reads the file, so it may not be written
    LockedElsewhere, // a program other than Lumivox holds the file locked
    CutShort, // another program shortened the output while it was being written
    NotRiffWave, // no RIFF chunk of form WAVE
    NoFormatChunk,
    BadFormatChunk, // too short, too long, or cut off
    NoDataChunk, // none after the format chunk, within the RIFF chunk
    TooManyChunks, // the search gave up before finding what it looked for
};

struct WaveFileError {
    WaveFileProblem problem = WaveFileProblem::None;
    int systemError = 0;
};

// The cause in plain words, for a message's second line: "No such file or directory", "not a
// RIFF/WAVE file" and the like.
[[nodiscard]] std::string describe(const WaveFileError& error);

// True when the file was refused because someone holds it locked.
[[nodiscard]] inline bool isLockRefusal(const WaveFileError& error)
{
    return error.problem == WaveFileProblem::InUse || error.problem == WaveFileProblem::BeingRead
        || error.problem == WaveFileProblem::LockedElsewhere;
}

} // namespace lumivox::wave
