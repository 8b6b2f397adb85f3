#include "band_level_feed.h"
#include "engine/vocoder_engine.h"
#include "job_fixture.h"

#include <thread>
#include <vector>

namespace lumivox::job::test {
namespace {

    using Clock = BandLevelFeed::Clock;
    using namespace std::chrono_literals;

    // The classic layout's 32 levels, all at one value.
    std::vector<double> allAt(double value) { return std::vector<double>(32, value); }

    // The levels an entry carries, as many as were published.
    std::vector<double> levelsOf(const BandLevelFeed::Entry& entry)
    {
        return { entry.levels.begin(), entry.levels.begin() + entry.levelCount };
    }

    class BandLevelFeedRun : public JobTest { };

} // namespace

TEST(BandLevelFeed, GivesTheNewestEntryAlreadyHeardAndNothingOlderThanAsked)
{
    BandLevelFeed feed;
    EXPECT_FALSE(feed.newestAudible(Clock::now(), 0));
    const auto start = Clock::now();
    feed.publish(allAt(1.0), 100, 1000.0, 0.0); // heard at once
    feed.publish(allAt(2.0), 200, 1000.0, 0.5); // heard half a second later
    feed.publish(allAt(3.0), 300, 1000.0, 1.0);
    EXPECT_EQ(feed.publishedCount(), 3u);

    const auto now = feed.newestAudible(Clock::now(), 0);
    ASSERT_TRUE(now);
    EXPECT_EQ(now->number, 1u);
    EXPECT_EQ(levelsOf(*now), allAt(1.0));
    EXPECT_DOUBLE_EQ(now->secondsDone, 0.1);
    EXPECT_EQ(now->sampleRate, 1000.0);

    const auto later = feed.newestAudible(start + 600ms, 0);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->number, 2u);
    EXPECT_EQ(feed.newestAudible(Clock::now() + 2s, 0)->number, 3u);
    // Entries of an earlier run are not shown in a later one.
    EXPECT_FALSE(feed.newestAudible(Clock::now(), 1));
}

TEST(BandLevelFeed, KeepsOnlyTheNewestRingOfEntries)
{
    BandLevelFeed feed;
    for (int i = 1; i <= BandLevelFeed::slotCount + 10; ++i)
        feed.publish(allAt(i), static_cast<std::uint64_t>(i), 1000.0, 100.0);
    feed.publish(allAt(0.5), 0, 1000.0, 0.0);
    const auto newest = feed.newestAudible(Clock::now(), 0);
    ASSERT_TRUE(newest);
    EXPECT_EQ(levelsOf(*newest), allAt(0.5));
    // Far in the future every kept entry is heard; the newest of them wins.
    EXPECT_EQ(feed.newestAudible(Clock::now() + 1000s, 0)->number, BandLevelFeed::slotCount + 11u);
}

TEST(BandLevelFeed, AJobThatOutrunsItsDeviceShowsTheOldestEntryKept)
{
    BandLevelFeed feed;
    const std::uint64_t count = BandLevelFeed::slotCount + 10;
    for (std::uint64_t i = 1; i <= count; ++i)
        feed.publish(allAt(static_cast<double>(i)), i, 1000.0, 100.0);
    // Entries 1 to 10 were overwritten before they were heard: entry 11 stands in for them.
    const auto standIn = feed.newestAudible(Clock::now(), 0);
    ASSERT_TRUE(standIn);
    EXPECT_EQ(standIn->number, 11u);
    EXPECT_EQ(levelsOf(*standIn), allAt(11.0));
    // When nothing the caller asks for was lost, nothing is shown before its time.
    EXPECT_FALSE(feed.newestAudible(Clock::now(), 10));
}

// Run under ThreadSanitizer too: a reader never sees an entry torn between two publishes.
TEST(BandLevelFeed, AReaderOnAnotherThreadSeesOnlyWholeEntries)
{
    BandLevelFeed feed;
    constexpr int publishCount = 20000;
    std::atomic<bool> writing { true };
    std::thread writer([&] {
        for (int i = 1; i <= publishCount; ++i)
            feed.publish(allAt(i), static_cast<std::uint64_t>(i), 1.0, 0.0);
        writing = false;
    });
    std::uint64_t lastSeen = 0;
    int entriesSeen = 0;
    while (writing || lastSeen < publishCount) {
        const auto entry = feed.newestAudible(Clock::now(), 0);
        if (!entry)
            continue;
        ++entriesSeen;
        ASSERT_EQ(levelsOf(*entry), allAt(static_cast<double>(entry->number)));
        ASSERT_DOUBLE_EQ(entry->secondsDone, static_cast<double>(entry->number));
        ASSERT_GE(entry->number, lastSeen);
        lastSeen = entry->number;
    }
    writer.join();
    EXPECT_GT(entriesSeen, 0);
    EXPECT_EQ(lastSeen, static_cast<std::uint64_t>(publishCount));
}

TEST_F(BandLevelFeedRun, AVocodePublishesEveryBlocksLevelsAtOnce)
{
    writeMono16(5000, 5000); // blocks of 2048, 2048 and 904 samples
    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    EXPECT_EQ(state.bandLevels.publishedCount(), 3u);
    const auto last = state.bandLevels.newestAudible(Clock::now(), 0);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->number, 3u);
    EXPECT_DOUBLE_EQ(last->secondsDone, 5000 / 44100.0);
    EXPECT_EQ(last->sampleRate, 44100.0);
}

TEST_F(BandLevelFeedRun, APreviewsLevelsWaitForTheOutputLatency)
{
    writeMono16(5000, 5000);
    sink.latencySeconds = 30.0;
    const auto start = Clock::now();
    ASSERT_EQ(run(JobMode::Preview), JobOutcome::Finished);
    EXPECT_EQ(state.bandLevels.publishedCount(), 3u);
    EXPECT_FALSE(state.bandLevels.newestAudible(Clock::now(), 0));
    const auto heard = state.bandLevels.newestAudible(Clock::now() + 31s, 0);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->number, 3u);
    EXPECT_GE(heard->audibleAt, start + 30s);
}

// A layout of any band count: the feed carries as many levels as the engine gave, up to the most
// any layout has.
TEST(BandLevelFeed, CarriesAsManyLevelsAsTheEngineGave)
{
    BandLevelFeed feed;
    for (const std::size_t count : { std::size_t { 4 }, std::size_t { 48 }, std::size_t { 64 } }) {
        feed.publish(std::vector<double>(count, 7.0), 1, 1000.0, 0.0);
        const auto entry = feed.newestAudible(Clock::now(), feed.publishedCount() - 1);
        ASSERT_TRUE(entry);
        EXPECT_EQ(levelsOf(*entry), std::vector<double>(count, 7.0));
    }
    feed.publish(std::vector<double>(80, 1.0), 1, 1000.0, 0.0);
    EXPECT_EQ(feed.newestAudible(Clock::now(), 0)->levelCount, BandLevelFeed::bandCount);
}

} // namespace lumivox::job::test
