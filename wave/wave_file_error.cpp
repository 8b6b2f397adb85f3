#include "wave_file_error.h"

#include <cstring>

namespace lumivox::wave {

std::string describe(const WaveFileError& error)
{
    switch (error.problem) {
    case WaveFileProblem::None:
        return {};
    case WaveFileProblem::System:
        return std::strerror(error.systemError);
    case WaveFileProblem::NotRegularFile:
        return "not a regular file";
    case WaveFileProblem::InUse:
        return "another run is writing to it";
    case WaveFileProblem::BeingRead:
        return "it is being read by another run";
    case WaveFileProblem::LockedElsewhere:
        return "another program has it locked";
    case WaveFileProblem::CutShort:
        return "the file was cut short by another program";
    case WaveFileProblem::NotRiffWave:
        return "not a RIFF/WAVE file";
    case WaveFileProblem::NoFormatChunk:
        return "no \"fmt \" chunk";
    case WaveFileProblem::BadFormatChunk:
        return "damaged \"fmt \" chunk";
    case WaveFileProblem::NoDataChunk:
        return "no \"data\" chunk after the \"fmt \" chunk";
    case WaveFileProblem::TooManyChunks:
        return "too many chunks before the audio";
    }
    return {};
}

} // namespace lumivox::wave
