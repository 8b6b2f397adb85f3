#pragma once

#include <string>

namespace lumivox::job {

enum class JobMode { Vocode = 0, Preview = 1 };

// What the sliders say, each a position from 0 to 100; a Preview reads them again before each
// block, so that a move is heard.
struct SoundSettings {
    int clearance = 0;
    int vagueness = 0;
    int gain = 50; // 50 is 1x, 100 is 2x
    int clarity = 0; // 0 leaves every output bit as it would be without it
};

// Everything one run needs, handed to the job as a value when it starts: the front end keeps its
// controls and the job keeps its copy.
struct JobSettings {
    JobMode mode = JobMode::Vocode;
    std::string carrierPath;
    std::string modulatorPath;
    std::string outputPath; // used by Vocode only
    SoundSettings sound;
};

} // namespace lumivox::job
