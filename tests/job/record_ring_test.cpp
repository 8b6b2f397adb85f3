#include "record_ring.h"

#include <gtest/gtest.h>
#include <numeric>
#include <thread>
#include <vector>

namespace lumivox::job {
namespace {

    struct RingCase {
        std::size_t capacity;
        std::size_t pushSize;
        std::size_t popSize;
    };

    class RecordRingSizes : public ::testing::TestWithParam<RingCase> { };

    // Whatever the sizes of pushes and pops, and however often the ring wraps, what comes out is
    // what went in, in order; a push refused while the ring was full (and made again later) is
    // counted, whole.
    TEST_P(RecordRingSizes, GivesBackWhatWasPushedInOrder)
    {
        const auto [capacity, pushSize, popSize] = GetParam();
        RecordRing ring(capacity);
        std::vector<float> pushed(20 * capacity + 7);
        std::iota(pushed.begin(), pushed.end(), 1.0F);
        std::vector<float> popped;
        std::vector<float> block(popSize);
        std::size_t next = 0;
        std::uint64_t refused = 0;
        while (next < pushed.size() || ring.waiting() > 0) {
            const std::size_t count = std::min(pushSize, pushed.size() - next);
            if (count > 0) {
                if (ring.push(std::span(pushed).subspan(next, count)))
                    next += count;
                else
                    refused += count;
            }
            const std::size_t got = ring.pop(block);
            popped.insert(popped.end(), block.begin(), block.begin() + static_cast<long>(got));
        }
        EXPECT_EQ(popped, pushed);
        EXPECT_EQ(ring.lostFrames(), refused);
    }

    INSTANTIATE_TEST_SUITE_P(Sizes, RecordRingSizes,
        ::testing::Values(RingCase { 16, 3, 5 }, RingCase { 16, 16, 16 }, RingCase { 64, 5, 64 },
            RingCase { 100, 33, 7 }, RingCase { 2, 1, 1 }));

    TEST(RecordRing, RoundsItsCapacityUpToAPowerOfTwo)
    {
        EXPECT_EQ(RecordRing(100).capacity(), 128U);
        EXPECT_EQ(RecordRing(128).capacity(), 128U);
        EXPECT_EQ(RecordRing(0).capacity(), 2U);
    }

    // A push that does not fit is refused whole and counted; what was in the ring stays.
    TEST(RecordRing, RefusesWhatDoesNotFitAndCountsIt)
    {
        RecordRing ring(8);
        const std::vector<float> six { 1, 2, 3, 4, 5, 6 };
        EXPECT_TRUE(ring.push(six));
        EXPECT_FALSE(ring.push(std::vector<float> { 7, 8, 9 }));
        EXPECT_EQ(ring.lostFrames(), 3U);
        EXPECT_TRUE(ring.push(std::vector<float> { 7, 8 }));
        std::vector<float> out(16);
        out.resize(ring.pop(out));
        EXPECT_EQ(out, (std::vector<float> { 1, 2, 3, 4, 5, 6, 7, 8 }));
    }

    // One thread pushes as an audio callback does, another reads as the record writer does.
    TEST(RecordRing, CarriesEverySampleFromOneThreadToAnother)
    {
        RecordRing ring(1024);
        constexpr std::size_t total = 1 << 20;
        std::thread writer([&ring] {
            std::vector<float> period(128);
            for (std::size_t done = 0; done < total; done += period.size()) {
                for (std::size_t i = 0; i < period.size(); ++i)
                    period[i] = static_cast<float>((done + i) % 65536);
                while (!ring.push(period))
                    std::this_thread::yield();
            }
        });
        std::vector<float> block(300);
        std::size_t read = 0;
        std::size_t wrong = 0;
        while (read < total) {
            const std::size_t got = ring.pop(block);
            for (std::size_t i = 0; i < got; ++i)
                wrong += block[i] != static_cast<float>((read + i) % 65536) ? 1 : 0;
            read += got;
            if (got == 0)
                std::this_thread::yield();
        }
        writer.join();
        EXPECT_EQ(read, total);
        EXPECT_EQ(wrong, 0U);
    }

} // namespace
} // namespace lumivox::job
