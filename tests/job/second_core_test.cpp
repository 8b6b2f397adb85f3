#include "engine/block_path.h"
#include "second_core.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <sched.h>
#include <thread>

namespace lumivox::job {
namespace {

    struct SecondCoreCase {
        bool previewing;
        std::uint64_t frameCount;
        std::uint32_t sampleRate;
        bool wanted; // with a second core to spare
    };

    const SecondCoreCase secondCoreCases[] = {
        { false, 300ull * 44100, 44100, true },
        { true, 300ull * 44100, 44100, false }, // a preview is paced by playback
        { false, 44100, 44100, true }, // a second
        { false, 44099, 44100, false }, // under a second: over before a trial can tell
        { false, 8000, 8000, true },
        { false, 7999, 8000, false },
        { false, 40000, 48000, false },
    };

} // namespace

TEST(SecondCore, IsForVocodeRunsOfASecondOrMoreWithACoreToSpare)
{
    const bool spare = usableCoreCount() > 1;
    for (const SecondCoreCase& c : secondCoreCases) {
        SCOPED_TRACE(::testing::Message() << c.frameCount << " frames at " << c.sampleRate);
        EXPECT_EQ(useSecondCore(c.previewing, c.frameCount, c.sampleRate), c.wanted && spare);
    }
    EXPECT_GE(usableCoreCount(), 1);
    EXPECT_LE(
        usableCoreCount(), static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
}

TEST(SecondCore, FollowsTheAffinityMask)
{
    cpu_set_t original;
    ASSERT_EQ(sched_getaffinity(0, sizeof original, &original), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &original)) {
            CPU_SET(cpu, &one);
            break;
        }
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const int cores = usableCoreCount();
    const bool second = useSecondCore(false, 300ull * 44100, 44100);
    ASSERT_EQ(sched_setaffinity(0, sizeof original, &original), 0);
    EXPECT_EQ(cores, 1);
    EXPECT_FALSE(second);
}

} // namespace lumivox::job

namespace lumivox::job {

// The two threads of a segment run on two cores, and the calling thread gets its cores back.
TEST(SecondCore, ACorePairKeepsTheThreadsApartAndGivesTheCallerItsCoresBack)
{
    if (usableCoreCount() < 2)
        GTEST_SKIP() << "one core only";
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    int callersCore = -1;
    int secondCore = -1;
    {
        const CorePair cores;
        callersCore = sched_getcpu();
        std::thread second([&cores, &secondCore] {
            cores.keepOffCallersCore();
            secondCore = sched_getcpu();
        });
        second.join();
        // The caller stays where it was held, whatever ran meanwhile.
        EXPECT_EQ(sched_getcpu(), callersCore);
    }
    EXPECT_NE(secondCore, callersCore);
    cpu_set_t after;
    ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

} // namespace lumivox::job
