#pragma once

namespace lumivox::engine {

// A slider's amount brought into [0, 1]; below 0, and not a number, give 0.
inline double clampToUnit(double value)
{
    if (value > 1.0)
        return 1.0;
    if (value >= 0.0)
        return value;
    return 0.0;
}

} // namespace lumivox::engine
