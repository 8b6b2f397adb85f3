#pragma once

namespace lumivox::job {

// PortAudio's start and end, once per process. The start keeps the audio system's chatter on
// stderr quiet; its result is not needed (a failed start makes a preview report no device).
void startAudioLibrary();
void endAudioLibrary();

} // namespace lumivox::job
