#include "thread_choice.h"

#include <algorithm>

namespace lumivox::job {

ThreadChoice::ThreadChoice(bool twoThreadsAllowed)
    : allowed(twoThreadsAllowed)
{
}

Segment ThreadChoice::next()
{
    if (!allowed)
        return { false, stretchBlocks };
    if (trialRunning())
        return { trialSegment % 2 == 1, trialBlocks };
    return { twoChosen, stretchBlocks };
}

void ThreadChoice::record(
    const Segment& segment, std::uint64_t frameCount, std::chrono::steady_clock::duration elapsed)
{
    if (!allowed)
        return;
    if (!trialRunning()) {
        sinceTrial += elapsed;
        // Two threads that fall below the pace one thread had in the trial have lost a core: time
        // both ways again at once.
        const bool fellBehind = segment.twoThreads
            && static_cast<double>(frameCount) * static_cast<double>(oneThreadTime.count())
                < static_cast<double>(oneThreadFrames) * static_cast<double>(elapsed.count());
        if (sinceTrial >= recheckIn || fellBehind)
            trialSegment = 0;
        return;
    }
    if (segment.twoThreads) {
        framesOnTwo += frameCount;
        timeOnTwo += elapsed;
    } else {
        framesOnOne += frameCount;
        timeOnOne += elapsed;
    }
    ++trialSegment;
    if (trialSegment % 2 != 0)
        return;
    // Frames per unit of time, compared without dividing by a time that may be zero.
    const double rateOnTwo
        = static_cast<double>(framesOnTwo) * static_cast<double>(timeOnOne.count());
    const double rateOnOne
        = static_cast<double>(framesOnOne) * static_cast<double>(timeOnTwo.count());
    // A first round that is clear either way decides: a second would only cost time on the
    // slower way, which on a busy machine is two threads waiting for a core.
    const bool clear
        = rateOnTwo < clearlySlower * rateOnOne || rateOnTwo > (1.0 + clearMargin) * rateOnOne;
    if (trialSegment < 2 * trialRounds && !clear)
        return;
    trialSegment = 2 * trialRounds;
    const bool oneChosenBefore = decided && !twoChosen;
    decided = true;
    twoChosen = rateOnTwo > (1.0 + twoThreadsMargin) * rateOnOne;
    using Duration = std::chrono::steady_clock::duration;
    if (twoChosen)
        recheckIn = recheckAfter;
    else if (oneChosenBefore)
        recheckIn = std::min<Duration>(2 * recheckIn, recheckAfter);
    else
        recheckIn = firstRecheckOnOne;
    oneThreadFrames = framesOnOne;
    oneThreadTime = timeOnOne;
    framesOnOne = framesOnTwo = 0;
    timeOnOne = timeOnTwo = sinceTrial = {};
}

} // namespace lumivox::job
