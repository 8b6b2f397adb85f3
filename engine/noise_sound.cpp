#include "noise_sound.h"

namespace lumivox::engine {

void NoiseSound::render(std::span<double> out)
{
    for (double& sample : out)
        sample = amplitude * noise.next();
}

} // namespace lumivox::engine
