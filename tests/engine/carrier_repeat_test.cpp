#include "carrier_repeat.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace lumivox::engine {
namespace {

    // A carrier in memory that hands out at most chunkFrames samples per read.
    class MemorySource final : public RepeatSource {
    public:
        MemorySource(std::vector<double> samples, std::size_t chunk)
            : data(std::move(samples))
            , chunkFrames(chunk)
        {
        }
        std::int64_t read(std::span<double> out) override
        {
            const std::size_t n = std::min({ out.size(), chunkFrames, data.size() - at });
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), n, out.begin());
            at += n;
            return static_cast<std::int64_t>(n);
        }
        bool rewind() override
        {
            at = 0;
            ++rewinds;
            return true;
        }
        int rewinds = 0;

    private:
        std::vector<double> data;
        std::size_t chunkFrames;
        std::size_t at = 0;
    };

    // The carrier repeated as the crossfade's definition says: the first pass up to its last fade
    // samples, then per seam the tail fading out (cosine) over the head fading in (sine), then the
    // carrier from sample fade on.
    std::vector<double> expectedRepeat(
        const std::vector<double>& c, std::size_t fade, std::size_t total)
    {
        std::vector<double> out(c.begin(), c.end() - static_cast<std::ptrdiff_t>(fade));
        while (out.size() < total) {
            for (std::size_t i = 0; i < fade; ++i) {
                const double u = (static_cast<double>(i) + 0.5) / static_cast<double>(fade);
                out.push_back(c[c.size() - fade + i] * std::cos(0.5 * std::numbers::pi * u)
                    + c[i] * std::sin(0.5 * std::numbers::pi * u));
            }
            out.insert(out.end(), c.begin() + static_cast<std::ptrdiff_t>(fade),
                c.end() - static_cast<std::ptrdiff_t>(fade));
        }
        out.resize(total);
        return out;
    }

    struct RepeatCase {
        std::size_t carrierFrames;
        std::size_t fadeFrames;
        std::size_t sourceChunk; // samples per read of the source
        std::size_t askFrames; // samples per fill
        std::size_t totalFrames;
    };

    class SeamCrossfade : public ::testing::TestWithParam<RepeatCase> { };

    // A rising ramp jumps from 1 back to 0 where it starts again: the crossfade must smooth that
    // into steps no larger than the fade's own slope while giving exactly the asked length.
    TEST_P(SeamCrossfade, RepeatsToTheAskedLengthWithoutASteppedSeam)
    {
        const RepeatCase c = GetParam();
        std::vector<double> ramp(c.carrierFrames);
        for (std::size_t i = 0; i < ramp.size(); ++i)
            ramp[i] = static_cast<double>(i) / static_cast<double>(ramp.size() - 1);
        MemorySource source(ramp, c.sourceChunk);
        CarrierRepeat repeat(source, c.fadeFrames);

        std::vector<double> out;
        std::vector<double> block(c.askFrames);
        while (out.size() < c.totalFrames) {
            block.resize(std::min(c.askFrames, c.totalFrames - out.size()));
            ASSERT_EQ(repeat.fill(block), static_cast<std::int64_t>(block.size()));
            out.insert(out.end(), block.begin(), block.end());
        }
        ASSERT_EQ(out.size(), c.totalFrames);

        const std::vector<double> want = expectedRepeat(ramp, c.fadeFrames, c.totalFrames);
        for (std::size_t i = 0; i < want.size(); ++i)
            ASSERT_NEAR(out[i], want[i], 1e-12) << "at " << i;

        double largestStep = 0.0;
        for (std::size_t i = 1; i < out.size(); ++i)
            largestStep = std::max(largestStep, std::abs(out[i] - out[i - 1]));
        EXPECT_LE(largestStep, 2.0 / static_cast<double>(c.fadeFrames));
        const std::size_t period = c.carrierFrames - c.fadeFrames;
        EXPECT_EQ(repeat.seamCount(), (c.totalFrames - 1) / period);
        EXPECT_EQ(source.rewinds, static_cast<int>(repeat.seamCount()));
    }

    INSTANTIATE_TEST_SUITE_P(Seams, SeamCrossfade,
        ::testing::Values(RepeatCase { 1000, 100, 7, 64, 5000 },
            RepeatCase { 1000, 100, 4096, 2048, 5000 }, RepeatCase { 882, 882 / 2, 300, 1, 4000 },
            RepeatCase { 44100, 882, 2048, 2048, 200000 }));

} // namespace
} // namespace lumivox::engine
