#pragma once

#include "engine/block_path.h"

namespace lumivox::app {

// Runs the window until it is closed and returns the process's exit code: 0 when the window was
// closed, 1 when it could not be created (no display to show it on).
// vectors: how the engine runs, as the program chose at its start.
int runApplication(engine::VectorChoice vectors);

// A second start while Lumivox runs on this computer (for any user) opens no window: it says so in
// one line on stderr and gives the exit code, 0.
int refuseSecondStart();

} // namespace lumivox::app
