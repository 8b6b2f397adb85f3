#include "wave/resampler.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace lumivox::wave::test {
namespace {

    struct RateCase {
        double inputRate;
        double outputRate;
        double frequency;
    };

    void PrintTo(const RateCase& row, std::ostream* out)
    {
        *out << row.frequency << " Hz from " << row.inputRate << " to " << row.outputRate;
    }

    constexpr RateCase rateCases[] = {
        { 22050.0, 44100.0, 1000.0 },
        { 44100.0, 22050.0, 440.0 },
        { 48000.0, 44100.0, 3000.0 },
        { 8000.0, 48000.0, 1234.5 },
        { 96000.0, 44100.0, 15000.0 },
    };

    constexpr double amplitude = 10000.0;
    constexpr double seconds = 2.0;

    double sine(double frequency, double sampleRate, std::size_t frame)
    {
        return amplitude
            * std::sin(
                2.0 * std::numbers::pi * frequency * static_cast<double>(frame) / sampleRate);
    }

    class ResamplerRates : public ::testing::TestWithParam<RateCase> { };

    // The sine comes out as the same sine at the new rate: same frequency, level and phase, so
    // the filter's delay is taken out. Input and output come in blocks of sizes that do not
    // divide each other.
    TEST_P(ResamplerRates, KeepsASinesFrequencyLevelAndTiming)
    {
        const RateCase& row = GetParam();
        const auto inputFrames = static_cast<std::size_t>(row.inputRate * seconds);
        std::size_t framesGiven = 0;
        FrameSource source = [&](std::span<double> destination) -> std::int64_t {
            const std::size_t count
                = std::min({ destination.size(), std::size_t { 1000 }, inputFrames - framesGiven });
            for (std::size_t i = 0; i < count; ++i)
                destination[i] = sine(row.frequency, row.inputRate, framesGiven + i);
            framesGiven += count;
            return static_cast<std::int64_t>(count);
        };
        std::string cause;
        auto resampler = Resampler::create(row.inputRate, row.outputRate, 2048, source, &cause);
        ASSERT_NE(resampler, nullptr) << cause;

        std::vector<double> output;
        std::vector<double> block(777);
        std::int64_t result = 0;
        while ((result = resampler->read(block)) > 0) {
            output.insert(output.end(), block.begin(), block.begin() + result);
            if (result < static_cast<std::int64_t>(block.size())) {
                EXPECT_EQ(resampler->read(block), 0) << "a short block comes only at the end";
            }
        }
        ASSERT_EQ(result, 0);
        EXPECT_EQ(framesGiven, inputFrames);
        EXPECT_NEAR(static_cast<double>(output.size()), row.outputRate * seconds, 1.0);

        // Away from the ends, where the sine starts and stops abruptly, it is the sine.
        const auto first = static_cast<std::size_t>(row.outputRate * 0.25);
        const auto last = static_cast<std::size_t>(row.outputRate * (seconds - 0.25));
        double worst = 0.0;
        for (std::size_t n = first; n < last && n < output.size(); ++n)
            worst = std::max(worst, std::abs(output[n] - sine(row.frequency, row.outputRate, n)));
        EXPECT_LT(worst, amplitude * 1e-5)
            << "that is " << 20.0 * std::log10(worst / amplitude) << " dB";
    }

    INSTANTIATE_TEST_SUITE_P(Rates, ResamplerRates, ::testing::ValuesIn(rateCases));

} // namespace
} // namespace lumivox::wave::test
