#pragma once

namespace lumivox::app {

// Runs the window until it is closed and returns the process's exit code: 0 when the window was
// closed, 1 when it could not be created (no display to show it on).
int runApplication();

} // namespace lumivox::app
