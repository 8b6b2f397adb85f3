#include "output_level.h"
#include "run_facts.h"
#include "sample_formats.h"

#include <gtest/gtest.h>
#include <vector>

namespace lumivox::job {
namespace {

    struct Block {
        std::vector<double> results;
        double gain;
    };

    struct LevelCase {
        const char* what;
        bool eightBit;
        std::vector<Block> blocks;
        double peak; // of the stored samples, as a fraction of full scale
        double clipFreeGain;
    };

    TEST(OutputLevel, FollowsTheStoredPeakAndTheGainThatWouldNotClip)
    {
        const double never = std::numeric_limits<double>::infinity();
        const LevelCase cases[] = {
            { "silence", false, { { { 0.0, -0.0, 0.0 }, 1.0 } }, 0.0, never },
            { "16-bit truncates toward zero", false, { { { 1000.7, -16383.9, 12.0 }, 1.0 } },
                16383.0 / 32767.0, 32767.0 / 16383.9 },
            { "8-bit floors around 127", true, { { { -10.5, 3.2 }, 1.0 } }, 11.0 / 127.0,
                127.0 / 10.5 },
            { "clipped at twice the gain", false, { { { 40000.0, -100.0 }, 2.0 } }, 1.0,
                32767.0 / 20000.0 },
            { "the loudest block for its gain rules", false,
                { { { 10000.0 }, 1.0 }, { { -8000.0 }, 0.5 }, { { 30000.0 }, 2.0 } },
                30000.0 / 32767.0, 32767.0 / 16000.0 },
            { "a block at gain 0 says nothing of the gain", false,
                { { { 5.0 }, 0.0 }, { { 100.0 }, 1.0 } }, 100.0 / 32767.0, 327.67 },
        };
        for (const LevelCase& c : cases) {
            SCOPED_TRACE(c.what);
            OutputLevel level(c.eightBit ? 127.0 : 32767.0);
            for (const Block& block : c.blocks) {
                if (c.eightBit)
                    level.add<encoding::UInt8>(block.results, block.gain);
                else
                    level.add<encoding::Int16>(block.results, block.gain);
            }
            EXPECT_DOUBLE_EQ(level.peak(), c.peak);
            EXPECT_DOUBLE_EQ(level.clipFreeGain(), c.clipFreeGain);
        }
    }

    TEST(RunFacts, TheGainThatWouldNotClipIsASliderPositionAtOrBelowIt)
    {
        const std::pair<double, int> cases[]
            = { { 0.62, 31 }, { 0.6299, 31 }, { 0.019, 0 }, { 1.0, 50 }, { 1.999, 99 },
                  { 2.0, 100 }, { 7.5, 100 }, { std::numeric_limits<double>::infinity(), 100 } };
        for (const auto& [gain, position] : cases)
            EXPECT_EQ(clipFreeGainPosition(gain), position) << gain;
    }

    struct CutCase {
        JobOutcome outcome;
        double carrierSeconds, modulatorSeconds;
        std::optional<bool> carrierEndedFirst;
        double secondsLeftOut;
    };

    TEST(RunFacts, SaysWhichInputEndedFirstWhenThatLeftOutEnoughOfTheOther)
    {
        const CutCase cases[] = {
            { JobOutcome::Finished, 4.0, 4.16, true, 0.16 },
            { JobOutcome::Finished, 4.0, 4.001, true, 0.001 },
            { JobOutcome::Finished, 4.0, 4.0, std::nullopt, 0 },
            { JobOutcome::Finished, 4.1, 4.0, std::nullopt, 0 },
            { JobOutcome::Finished, 5.25, 4.0, false, 1.25 },
            { JobOutcome::Stopped, 4.0, 9.0, std::nullopt, 0 },
            { JobOutcome::Failed, 0.0, 0.0, std::nullopt, 0 },
        };
        for (const CutCase& c : cases) {
            RunReport report;
            report.outcome = c.outcome;
            report.carrierSeconds = c.carrierSeconds;
            report.modulatorSeconds = c.modulatorSeconds;
            const std::optional<CutShort> cut = cutShortOf(report);
            SCOPED_TRACE(
                testing::Message() << c.carrierSeconds << " against " << c.modulatorSeconds);
            ASSERT_EQ(cut.has_value(), c.carrierEndedFirst.has_value());
            if (cut) {
                EXPECT_EQ(cut->carrierEndedFirst, *c.carrierEndedFirst);
                EXPECT_NEAR(cut->secondsLeftOut, c.secondsLeftOut, 1e-12);
            }
        }
    }

} // namespace
} // namespace lumivox::job
