#include "pipeline_test_parts.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

namespace lumivox::job::test {

namespace {

    // Job blocks mostly, with odd and short ones between them.
    constexpr std::size_t blockLengths[] = { 2048, 2048, 1500, 2048, 333, 2048, 2048, 1, 2048 };

} // namespace

Jitter::Jitter(unsigned seed, int mostTurns)
    : generator(seed)
    , turns(0, mostTurns)
{
}

void Jitter::wait()
{
    for (int n = turns(generator); n > 0; --n)
        std::this_thread::yield();
}

SignalSource::SignalSource(
    const engine::testing::Signals& signals, Progress& progress, Jitter jitter)
    : input(signals)
    , counts(progress)
    , delays(jitter)
{
}

int SignalSource::readBlock(
    std::span<double> carrier, std::span<double> modulator, std::uint64_t& framesRead)
{
    const int block = counts.blocksRead.load();
    // The ring holds three blocks and the sink's block has left it before the sink is called.
    if (block > counts.blocksEntered.load() + 3)
        ++readsAfterRingBound;
    if (beforeRead)
        beforeRead(block);
    delays.wait();
    if (block == throwAt)
        throw std::bad_alloc();
    if (block == failAt) {
        counts.advance(counts.inputEnds);
        return -1;
    }
    const std::size_t length
        = std::min({ blockLengths[static_cast<std::size_t>(block) % std::size(blockLengths)],
            carrier.size(), input.carrier.size() - position });
    std::copy_n(
        input.carrier.begin() + static_cast<std::ptrdiff_t>(position), length, carrier.begin());
    std::copy_n(
        input.modulator.begin() + static_cast<std::ptrdiff_t>(position), length, modulator.begin());
    position += length;
    framesRead = position;
    counts.advance(length > 0 ? counts.blocksRead : counts.inputEnds);
    return static_cast<int>(length);
}

CollectingSink::CollectingSink(Progress& progress, Jitter jitter)
    : counts(progress)
    , delays(jitter)
{
}

bool CollectingSink::beforeBlock() { return counts.blocksTaken.load() != stopBefore; }

bool CollectingSink::takeBlock(std::span<const double> output, std::uint64_t position)
{
    const int block = counts.blocksTaken.load();
    counts.advance(counts.blocksEntered);
    if (beforeTake)
        beforeTake(block);
    delays.wait();
    if (block == refuse)
        return false;
    collected.insert(collected.end(), output.begin(), output.end());
    positionsOutOfStep += position == collected.size() ? 0 : 1;
    counts.advance(counts.blocksTaken);
    return true;
}

ScriptedPlan::ScriptedPlan(std::vector<Segment> segments)
    : script(std::move(segments))
{
}

Segment ScriptedPlan::next()
{
    const Segment segment = script[nextIndex];
    nextIndex = (nextIndex + 1) % script.size();
    return segment;
}

void ScriptedPlan::record(
    const Segment& segment, std::uint64_t frameCount, std::chrono::steady_clock::duration)
{
    (segment.twoThreads ? framesOnTwo : framesOnOne) += frameCount;
}

unsigned testSeed()
{
    static const unsigned seed = [] {
        if (const char* given = std::getenv("LUMIVOX_TEST_SEED"))
            return static_cast<unsigned>(std::stoul(given));
        return std::random_device {}();
    }();
    return seed;
}

} // namespace lumivox::job::test
