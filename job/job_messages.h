#pragma once

#include <string_view>

namespace lumivox::job {

// The job's messages to the user, word for word (the misspellings are the program's own).
namespace message {
    inline constexpr std::string_view carrierBuffer
        = "The memory needed for the carrier buffer could not be allocated.";
    inline constexpr std::string_view modulatorBuffer
        = "The memory needed for the modulator buffer could not be allocated.";
    inline constexpr std::string_view outputBuffer
        = "The memory needed for the output buffer could not be allocated.";
    inline constexpr std::string_view carrierNotOpened
        = "The carrier wave file could not be opened.";
    inline constexpr std::string_view modulatorNotOpened
        = "The modulator wave file could not be opened.";
    inline constexpr std::string_view carrierNotPcm
        = "The carrier is either not a valid PCM file, or it has a bit resolution highr than 16.";
    inline constexpr std::string_view modulatorNotPcm
        = "The modulator is either not a valid PCM file, or it has a bit resolution highr than 16.";
    inline constexpr std::string_view carrierChannels
        = "The carrier must have one or two channels.";
    inline constexpr std::string_view modulatorChannels
        = "The modulator must have one or two channels.";
    inline constexpr std::string_view bitDepthsDiffer
        = "The carrier and the modulator have different "
          "bit depths. Please correct this and try again.";
    inline constexpr std::string_view sampleRatesDiffer
        = "The carrier and the modulator have different sample rates. Please correct this and try "
          "again.";
    // A read that failed mid-run; not among the original texts, worded like its neighbours.
    inline constexpr std::string_view carrierNotRead = "The carrier wave file could not be read.";
    inline constexpr std::string_view modulatorNotRead
        = "The modulator wave file could not be read.";
    inline constexpr std::string_view bandsAboveRate
        = "The band range does not fit the output's sample rate.";
    inline constexpr std::string_view outputNotOpened = "The output wave file could not be opened.";
    inline constexpr std::string_view outputNotWritten
        = "The output wave file could not be written.";
    inline constexpr std::string_view noOutputDevice
        = "No default output audio device was found on your system.";
    inline constexpr std::string_view noDeviceInfo
        = "Information about your default output audio device could not be retrieved.";
    inline constexpr std::string_view streamNotOpened
        = "Unable to open the preview audio output stream.";
    inline constexpr std::string_view outOfMemory
        = "There is not enough memory to vocode these files.";
    inline constexpr std::string_view abortQuestion
        = "Vocoding is in progress, would you like to abort it?";
} // namespace message

} // namespace lumivox::job
