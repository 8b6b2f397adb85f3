#pragma once

#include <chrono>

namespace lumivox::engine {

// How long a thread spins for another before it sleeps or gives up. Waking a sleeping thread takes
// tens of microseconds (more on a virtual machine), longer than a quarter of a shared run; spinning
// longer would take the core's time from others on a busy machine.
inline constexpr std::chrono::microseconds longestSpin { 150 };

inline void pauseSpin()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins until ready() is true or longestSpin has passed, reading the clock only every 64 spins.
// Returns whether ready() came true.
template <typename Ready> bool spinUntil(Ready ready)
{
    if (ready())
        return true;
    const auto giveUp = std::chrono::steady_clock::now() + longestSpin;
    for (int spin = 1; !ready(); ++spin) {
        if (spin % 64 == 0 && std::chrono::steady_clock::now() > giveUp)
            return false;
        pauseSpin();
    }
    return true;
}

} // namespace lumivox::engine
