#pragma once

#include "live_audio.h"

#include <memory>
#include <string>

namespace lumivox::job {

struct JackLiveOptions {
    std::string clientName = "lumivox";
    bool carrierPort = false; // an input port `carrier` beside `voice`
    bool connect = true; // voice from the first physical capture port, out to every playback one
};

// A JACK client with an input port `voice`, an output port `out` and, when asked, an input port
// `carrier`, at the server's rate and period. Null when no JACK server runs (it is never
// started for us) or the client cannot be made, with the reason in problem; serverRunning says
// whether a server was there.
[[nodiscard]] std::unique_ptr<LiveAudio> openJackLiveAudio(
    const JackLiveOptions& options, std::string& problem, bool& serverRunning);

} // namespace lumivox::job
