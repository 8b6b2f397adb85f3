#pragma once

#include "vocode_pipeline.h"

#include <chrono>
#include <cstdint>

namespace lumivox::job {

// Runs a Vocode on two threads only while that is faster than one. It times the first blocks on
// one thread and on two, alternately, goes on with the faster, and times both again every so
// often, as the load on the machine changes, and at once when two threads fall below the pace one
// had (sooner after choosing one thread; see firstRecheckOnOne). Two threads must win clearly:
// where they only tie,
// one thread leaves the other core to the rest of the machine. Without two threads allowed,
// everything runs on one.
class ThreadChoice final : public SegmentPlan {
public:
    static constexpr int trialBlocks = 32; // per timed segment, about 1.5 s of 44.1 kHz audio
    static constexpr int trialRounds = 2; // timed segments each way at most, alternating
    static constexpr int stretchBlocks = 256; // per segment between trials, about 12 s of audio
    static constexpr auto recheckAfter = std::chrono::seconds(1);
    // After a trial that chose one thread, the next comes sooner, then later each time it chooses
    // one again, up to recheckAfter: a trial whose segments the machine held up (they last a few
    // milliseconds) then costs a quarter of a second on one thread, not a second, while a machine
    // that stays busy is timed hardly more often.
    static constexpr auto firstRecheckOnOne = std::chrono::milliseconds(250);
    // How much faster two threads must be, as a fraction of one thread's throughput.
    static constexpr double twoThreadsMargin = 0.05;
    // A first round where two threads are faster by more than this ends the trial...
    static constexpr double clearMargin = 0.25;
    // ...as does one where they ran at less than this share of one thread's pace. A round where
    // they were only a little slower is timed again: a trial segment lasts a few milliseconds,
    // and one that the machine happened to hold up would otherwise settle the next second.
    static constexpr double clearlySlower = 0.5;

    explicit ThreadChoice(bool twoThreadsAllowed);

    Segment next() override;
    void record(const Segment& segment, std::uint64_t frameCount,
        std::chrono::steady_clock::duration elapsed) override;
    void noSecondThread() override { allowed = false; }

    bool choseTwoThreads() const { return allowed && twoChosen; }

private:
    bool trialRunning() const { return trialSegment < 2 * trialRounds; }

    bool allowed;
    bool twoChosen = false;
    bool decided = false; // a trial has chosen
    int trialSegment = 0; // the trial's segments alternate, one thread first
    std::uint64_t framesOnOne = 0;
    std::uint64_t framesOnTwo = 0;
    std::chrono::steady_clock::duration timeOnOne {};
    std::chrono::steady_clock::duration timeOnTwo {};
    std::chrono::steady_clock::duration sinceTrial {};
    std::chrono::steady_clock::duration recheckIn = recheckAfter; // after the latest trial
    // One thread's pace in the latest trial.
    std::uint64_t oneThreadFrames = 0;
    std::chrono::steady_clock::duration oneThreadTime {};
};

} // namespace lumivox::job
