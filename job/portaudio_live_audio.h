#pragma once

#include "live_audio.h"

#include <memory>
#include <string>

namespace lumivox::job {

// The default input and output devices in one duplex PortAudio stream (the library must be
// started, see audio_library.h), one channel each way, at the devices' default rate. Null when
// either device is missing or the stream cannot be opened, with the reason in problem.
[[nodiscard]] std::unique_ptr<LiveAudio> openPortAudioLiveAudio(std::string& problem);

// The frames of each period the stream is opened with.
inline constexpr unsigned long portAudioLivePeriod = 256;

} // namespace lumivox::job
