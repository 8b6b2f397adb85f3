#include "thread_choice.h"

#include <chrono>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

namespace lumivox::job {
namespace {

    using std::chrono::milliseconds;

    constexpr std::uint64_t trialFrames = ThreadChoice::trialBlocks * 2048ull;
    constexpr std::uint64_t stretchFrames = ThreadChoice::stretchBlocks * 2048ull;

    // Runs the trial with every segment on one thread taking oneThread and every segment on two
    // taking twoThreads; returns what it chose, and how many timed segments it took.
    bool trialChoosesTwo(ThreadChoice& choice, milliseconds oneThread, milliseconds twoThreads,
        int* segmentsTimed = nullptr)
    {
        int timed = 0;
        for (Segment segment = choice.next(); segment.blockCount == ThreadChoice::trialBlocks;
             segment = choice.next()) {
            EXPECT_EQ(segment.twoThreads, timed % 2 == 1) << "the trial alternates, one first";
            choice.record(segment, trialFrames, segment.twoThreads ? twoThreads : oneThread);
            if (++timed > 2 * ThreadChoice::trialRounds)
                break;
        }
        EXPECT_GE(timed, 2);
        EXPECT_LE(timed, 2 * ThreadChoice::trialRounds);
        if (segmentsTimed != nullptr)
            *segmentsTimed = timed;
        const Segment chosen = choice.next();
        EXPECT_EQ(chosen.blockCount, ThreadChoice::stretchBlocks);
        EXPECT_EQ(chosen.twoThreads, choice.choseTwoThreads());
        return chosen.twoThreads;
    }

    // Records stretches of `each` until the next trial starts; how many there were. Each must be
    // on two threads or one as said.
    int stretchesUntilTrial(ThreadChoice& choice, milliseconds each, bool twoThreads)
    {
        int stretches = 0;
        for (Segment segment = choice.next();
             segment.blockCount == ThreadChoice::stretchBlocks && stretches < 100;
             segment = choice.next()) {
            EXPECT_EQ(segment.twoThreads, twoThreads);
            choice.record(segment, stretchFrames, each);
            ++stretches;
        }
        return stretches;
    }

    struct TrialCase {
        const char* name;
        int oneThreadMs;
        int twoThreadsMs;
        bool twoChosen;
        int segmentsTimed; // a clear first round ends the trial
    };

    void PrintTo(const TrialCase& trialCase, std::ostream* out) { *out << trialCase.name; }

    const TrialCase trialCases[] = {
        { "TwoClearlyFaster", 100, 70, true, 2 },
        { "TwoFasterButNotClearly", 124, 100, true, 4 },
        { "TwoJustOverTheMargin", 106, 100, true, 4 },
        { "TwoFasterWithinTheMargin", 104, 100, false, 4 },
        { "Tie", 100, 100, false, 4 },
        { "TwoALittleSlower", 100, 101, false, 4 },
        { "TwoSlowerByHalf", 100, 199, false, 4 },
        { "TwoClearlySlower", 100, 201, false, 2 },
        { "NoTimeMeasured", 0, 0, false, 4 },
    };

    class ThreadTrial : public ::testing::TestWithParam<TrialCase> { };

} // namespace

TEST_P(ThreadTrial, GoesOnWithTheFasterWayOnlyWhenTwoThreadsWinClearly)
{
    ThreadChoice choice(true);
    int segmentsTimed = 0;
    EXPECT_EQ(trialChoosesTwo(choice, milliseconds(GetParam().oneThreadMs),
                  milliseconds(GetParam().twoThreadsMs), &segmentsTimed),
        GetParam().twoChosen);
    EXPECT_EQ(segmentsTimed, GetParam().segmentsTimed);
}

INSTANTIATE_TEST_SUITE_P(Trials, ThreadTrial, ::testing::ValuesIn(trialCases),
    [](const auto& param) { return std::string(param.param.name); });

namespace {

    // Trial segments' times in the order they run (one thread first, then alternating), some
    // held up by the machine: one such segment on two threads does not settle the choice.
    struct HeldUpCase {
        const char* name;
        std::vector<int> segmentMs;
        bool twoChosen;
    };

    void PrintTo(const HeldUpCase& heldUp, std::ostream* out) { *out << heldUp.name; }

    const HeldUpCase heldUpCases[] = {
        { "TwoHeldUpInTheFirstRound", { 100, 130, 100, 50 }, true },
        { "OneHeldUpInTheSecondRound", { 100, 130, 180, 104 }, true },
        { "TwoSlowerInBothRounds", { 100, 130, 100, 120 }, false },
        { "TwoWinTheSecondRoundButNotOverall", { 100, 130, 100, 90 }, false },
    };

    class HeldUpTrial : public ::testing::TestWithParam<HeldUpCase> { };

} // namespace

TEST_P(HeldUpTrial, TimesASecondRoundAndJudgesBothTogether)
{
    ThreadChoice choice(true);
    for (const int ms : GetParam().segmentMs) {
        const Segment segment = choice.next();
        ASSERT_EQ(segment.blockCount, ThreadChoice::trialBlocks) << "the trial ended early";
        choice.record(segment, trialFrames, milliseconds(ms));
    }
    const Segment chosen = choice.next();
    EXPECT_EQ(chosen.blockCount, ThreadChoice::stretchBlocks);
    EXPECT_EQ(chosen.twoThreads, GetParam().twoChosen);
}

INSTANTIATE_TEST_SUITE_P(Trials, HeldUpTrial, ::testing::ValuesIn(heldUpCases),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ThreadChoice, TimesBothWaysAgainAfterASecondAndFollowsTheLoad)
{
    ThreadChoice choice(true);
    ASSERT_TRUE(trialChoosesTwo(choice, milliseconds(10), milliseconds(6)));
    // Stretches on two threads, at their pace in the trial, until a second has gone by.
    for (int i = 0; i < 19; ++i) { // 0.95 s
        const Segment segment = choice.next();
        EXPECT_TRUE(segment.twoThreads);
        choice.record(segment, stretchFrames, milliseconds(50));
    }
    const Segment stillTwo = choice.next();
    EXPECT_TRUE(stillTwo.twoThreads);
    EXPECT_EQ(stillTwo.blockCount, ThreadChoice::stretchBlocks);
    choice.record(stillTwo, stretchFrames, milliseconds(50));
    // A busy machine now: the second thread has lost its core.
    EXPECT_FALSE(trialChoosesTwo(choice, milliseconds(10), milliseconds(14)));
    EXPECT_EQ(stretchesUntilTrial(choice, milliseconds(110), false), 3); // 0.33 s
    EXPECT_TRUE(trialChoosesTwo(choice, milliseconds(10), milliseconds(6)));
}

TEST(ThreadChoice, TimesAgainSoonerAfterChoosingOneThreadThenLessOftenUpToASecond)
{
    ThreadChoice choice(true);
    // A start the machine held up, or a machine that stays busy: one thread is chosen.
    ASSERT_FALSE(trialChoosesTwo(choice, milliseconds(10), milliseconds(30)));
    // In stretches of 0.1 s, the next trial after a quarter of a second, then half a second, then
    // a second each time while one thread keeps winning.
    for (const int stretches : { 3, 5, 10, 10 }) {
        EXPECT_EQ(stretchesUntilTrial(choice, milliseconds(100), false), stretches);
        ASSERT_FALSE(trialChoosesTwo(choice, milliseconds(10), milliseconds(30)));
    }
    // Two threads win: a second between trials, as ever.
    EXPECT_EQ(stretchesUntilTrial(choice, milliseconds(100), false), 10);
    ASSERT_TRUE(trialChoosesTwo(choice, milliseconds(10), milliseconds(6)));
    EXPECT_EQ(stretchesUntilTrial(choice, milliseconds(50), true), 20);
    // One thread wins again: the quarter of a second again.
    ASSERT_FALSE(trialChoosesTwo(choice, milliseconds(10), milliseconds(30)));
    EXPECT_EQ(stretchesUntilTrial(choice, milliseconds(100), false), 3);
}

TEST(ThreadChoice, TimesBothWaysAgainAtOnceWhenTwoThreadsFallBelowOneThreadsPace)
{
    ThreadChoice choice(true);
    // The trial: one thread does 32 blocks in 10 ms, two threads in 6 ms.
    ASSERT_TRUE(trialChoosesTwo(choice, milliseconds(10), milliseconds(6)));
    // 256 blocks at one thread's pace would take 80 ms: exactly that pace goes on.
    choice.record(choice.next(), stretchFrames, milliseconds(80));
    const Segment goesOn = choice.next();
    EXPECT_TRUE(goesOn.twoThreads);
    EXPECT_EQ(goesOn.blockCount, ThreadChoice::stretchBlocks);
    // A little slower, long before a second has passed: a new trial.
    choice.record(goesOn, stretchFrames, milliseconds(81));
    const Segment trial = choice.next();
    EXPECT_FALSE(trial.twoThreads);
    EXPECT_EQ(trial.blockCount, ThreadChoice::trialBlocks);
}

TEST(ThreadChoice, StaysOnOneThreadWhenTwoAreNotAllowedOrCannotStart)
{
    ThreadChoice notAllowed(false);
    ThreadChoice noThread(true);
    noThread.noSecondThread();
    for (ThreadChoice* choice : { &notAllowed, &noThread }) {
        for (int i = 0; i < 10; ++i) {
            const Segment segment = choice->next();
            EXPECT_FALSE(segment.twoThreads);
            choice->record(segment, 2048, i % 2 == 0 ? milliseconds(100) : milliseconds(1));
        }
        EXPECT_FALSE(choice->choseTwoThreads());
    }
}

} // namespace lumivox::job
