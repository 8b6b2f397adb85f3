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
    // taking twoThreads; returns what it chose.
    bool trialChoosesTwo(ThreadChoice& choice, milliseconds oneThread, milliseconds twoThreads)
    {
        for (int i = 0; i < 2 * ThreadChoice::trialRounds; ++i) {
            const Segment segment = choice.next();
            EXPECT_EQ(segment.blockCount, ThreadChoice::trialBlocks);
            EXPECT_EQ(segment.twoThreads, i % 2 == 1) << "the trial alternates, one thread first";
            choice.record(segment, trialFrames, segment.twoThreads ? twoThreads : oneThread);
        }
        const Segment chosen = choice.next();
        EXPECT_EQ(chosen.blockCount, ThreadChoice::stretchBlocks);
        EXPECT_EQ(chosen.twoThreads, choice.choseTwoThreads());
        return chosen.twoThreads;
    }

    struct TrialCase {
        const char* name;
        int oneThreadMs;
        int twoThreadsMs;
        bool twoChosen;
    };

    void PrintTo(const TrialCase& trialCase, std::ostream* out) { *out << trialCase.name; }

    const TrialCase trialCases[] = {
        { "TwoClearlyFaster", 100, 70, true },
        { "TwoJustOverTheMargin", 106, 100, true },
        { "TwoFasterWithinTheMargin", 104, 100, false },
        { "Tie", 100, 100, false },
        { "TwoSlower", 100, 130, false },
        { "NoTimeMeasured", 0, 0, false },
    };

    class ThreadTrial : public ::testing::TestWithParam<TrialCase> { };

} // namespace

TEST_P(ThreadTrial, GoesOnWithTheFasterWayOnlyWhenTwoThreadsWinClearly)
{
    ThreadChoice choice(true);
    EXPECT_EQ(trialChoosesTwo(choice, milliseconds(GetParam().oneThreadMs),
                  milliseconds(GetParam().twoThreadsMs)),
        GetParam().twoChosen);
}

INSTANTIATE_TEST_SUITE_P(Trials, ThreadTrial, ::testing::ValuesIn(trialCases),
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
    for (int i = 0; i < 10; ++i) { // 1.1 s
        const Segment segment = choice.next();
        EXPECT_FALSE(segment.twoThreads);
        choice.record(segment, stretchFrames, milliseconds(110));
    }
    EXPECT_TRUE(trialChoosesTwo(choice, milliseconds(10), milliseconds(6)));
}

TEST(ThreadChoice, TimesBothWaysAgainAtOnceWhenTwoThreadsFallBelowOneThreadsPace)
{
    ThreadChoice choice(true);
    // The trial: one thread does 2 * 32 blocks in 20 ms, two threads in 12 ms.
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
