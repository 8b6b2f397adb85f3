#pragma once

// A block source, a block sink and a scripted plan for driving the vocode pipeline in tests: each
// side can be held at a chosen block until a condition on the other holds, and can wait a random
// number of scheduler turns before each block, drawn from a seed the test prints.
#include "engine_signals.h"
#include "vocode_pipeline.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <vector>

namespace lumivox::job::test {

// Blocks that either side waits on, and the counts they wait for.
class Progress {
public:
    void advance(std::atomic<int>& count)
    {
        {
            const std::lock_guard lock(mutex);
            ++count;
        }
        changed.notify_all();
    }
    // Waits until the condition holds.
    void awaitUntil(const std::function<bool()>& condition)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, condition);
    }

    std::atomic<int> blocksRead { 0 };
    std::atomic<int> inputEnds { 0 }; // reads that ended or failed
    std::atomic<int> blocksEntered { 0 }; // blocks whose takeBlock has begun
    std::atomic<int> blocksTaken { 0 };

private:
    std::mutex mutex;
    std::condition_variable changed;
};

// Random turns given away before a block, from a seeded generator per side.
class Jitter {
public:
    Jitter(unsigned seed, int mostTurns);
    void wait();

private:
    std::mt19937 generator;
    std::uniform_int_distribution<int> turns;
};

// Reads the signals in blocks of wandering lengths; failing, ending or throwing at chosen blocks.
class SignalSource final : public BlockSource {
public:
    SignalSource(const engine::testing::Signals& signals, Progress& progress, Jitter jitter);

    int readBlock(
        std::span<double> carrier, std::span<double> modulator, std::uint64_t& position) override;

    std::function<void(int block)> beforeRead; // may wait on the progress of the other side
    int failAt = -1; // the block whose read fails
    int throwAt = -1; // the block whose read throws std::bad_alloc
    int readsAfterRingBound = 0; // reads that ran further ahead of the sink than the ring allows

private:
    const engine::testing::Signals& input;
    Progress& counts;
    Jitter delays;
    std::size_t position = 0;
};

// Stores the output; stopping or failing at chosen blocks.
class CollectingSink final : public BlockSink {
public:
    CollectingSink(Progress& progress, Jitter jitter);

    bool beforeBlock() override;
    bool takeBlock(std::span<const double> output, std::uint64_t position) override;

    int positionsOutOfStep = 0; // blocks whose position is not the frames taken with them

    std::function<void(int block)> beforeTake; // may wait on the progress of the other side
    int stopBefore = -1; // beforeBlock says stop before this block
    int refuse = -1; // takeBlock fails on this block
    std::vector<double> collected;

private:
    Progress& counts;
    Jitter delays;
};

// Goes through the given segments over and over, recording what each did.
class ScriptedPlan final : public SegmentPlan {
public:
    explicit ScriptedPlan(std::vector<Segment> segments);
    Segment next() override;
    void record(const Segment& segment, std::uint64_t frameCount,
        std::chrono::steady_clock::duration elapsed) override;
    void noSecondThread() override { ++noThreadCount; }

    std::uint64_t framesOnTwo = 0;
    std::uint64_t framesOnOne = 0;
    int noThreadCount = 0;

private:
    std::vector<Segment> script;
    std::size_t nextIndex = 0;
};

// The seed for this run's random delays: LUMIVOX_TEST_SEED when set, otherwise a fresh one.
unsigned testSeed();

} // namespace lumivox::job::test
