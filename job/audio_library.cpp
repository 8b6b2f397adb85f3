#include "audio_library.h"

#include <cstdio>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

namespace lumivox::job {

void startAudioLibrary()
{
    // Probing the host APIs prints pages of ALSA and JACK noise on a machine without sound; none
    // of it is the user's concern, so stderr points at /dev/null for the duration.
    std::fflush(stderr);
    const int savedStderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (savedStderr >= 0 && devNull >= 0)
        dup2(devNull, STDERR_FILENO);
    static_cast<void>(Pa_Initialize());
    std::fflush(stderr);
    if (savedStderr >= 0 && devNull >= 0)
        dup2(savedStderr, STDERR_FILENO);
    if (devNull >= 0)
        close(devNull);
    if (savedStderr >= 0)
        close(savedStderr);
}

void endAudioLibrary() { static_cast<void>(Pa_Terminate()); }

} // namespace lumivox::job
