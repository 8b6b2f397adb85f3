#pragma once

#include <chrono>

namespace lumivox::engine {

// Decides whether the next run of frames is shared with the worker thread. A shared run in which
// the worker kept the owner waiting for a quarter of the run means the worker had lost its core
// (a busy machine, or a virtual one whose second processor is not always there): the next runs
// then go on one thread, a few at first and twice as many each time it happens again, up to a
// third of a second of 44.1 kHz audio; each shared run without such a wait halves the next spell
// again. A worker that had to be woken for the run starts late, which says nothing of its core.
class SharingBackoff {
public:
    static constexpr int shortestSpell = 4; // runs of 512 frames
    static constexpr int longestSpell = 256;

    // Whether to share the next run; a run that is not shared counts down the spell.
    bool shareNext()
    {
        if (aloneRuns == 0)
            return true;
        --aloneRuns;
        return false;
    }

    void afterSharedRun(bool workerWoken, std::chrono::steady_clock::duration waited,
        std::chrono::steady_clock::duration elapsed)
    {
        if (workerWoken)
            return;
        if (4 * waited > elapsed) {
            aloneRuns = spell;
            spell = spell * 2 < longestSpell ? spell * 2 : longestSpell;
        } else {
            spell = spell / 2 > shortestSpell ? spell / 2 : shortestSpell;
        }
    }

private:
    int aloneRuns = 0;
    int spell = shortestSpell;
};

} // namespace lumivox::engine
