#include "second_core.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <sched.h>
#include <thread>

namespace lumivox::job {
namespace {

    constexpr std::uint64_t longInput = 300ull * 44100 * 2;

} // namespace

TEST(SecondCore, IsForLongVocodeRunsWithACoreToSpare)
{
    const bool spare = usableCoreCount() > 1;
    EXPECT_EQ(useSecondCore(false, longInput), spare);
    EXPECT_FALSE(useSecondCore(true, longInput)); // a preview is paced by playback
    EXPECT_FALSE(useSecondCore(false, 4096)); // over before a thread repays its start
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
    const bool second = useSecondCore(false, longInput);
    ASSERT_EQ(sched_setaffinity(0, sizeof original, &original), 0);
    EXPECT_EQ(cores, 1);
    EXPECT_FALSE(second);
}

} // namespace lumivox::job
