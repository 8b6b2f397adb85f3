#include "job_fixture.h"
#include "run_facts.h"

#include <algorithm>
#include <cstdlib>

namespace lumivox::job::test {
namespace {

    class RunLevelTest : public JobTest {
    protected:
        // Runs a Vocode at this gain and returns its report.
        RunReport vocodeAt(int gainPosition)
        {
            port.reports.clear();
            settings.sound.gain = gainPosition;
            EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
            EXPECT_EQ(port.reports.size(), 1U);
            return port.reports.empty() ? RunReport {} : port.reports.front();
        }

        // The loudest sample of the output file as a fraction of full scale, read from the file.
        double peakInFile(bool eightBit)
        {
            const std::optional<OutputWave> output = readOutputWave(settings.outputPath);
            EXPECT_TRUE(output.has_value());
            if (!output)
                return -1.0;
            int loudest = 0;
            if (eightBit) {
                for (const std::uint8_t sample : output->data)
                    loudest = std::max(loudest, std::abs(sample - 127)); // centred on 127
                return loudest / 127.0;
            }
            for (const std::int16_t sample : int16Samples(output->data))
                loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
            return loudest / 32767.0;
        }

        void writeInputs(bool eightBit, bool loud)
        {
            const WaveShape shape { 1, 1, 22050, static_cast<std::uint16_t>(eightBit ? 8 : 16) };
            if (!loud) {
                writeCarrier(
                    shape, eightBit ? testSignal8(9000, 1) : int16Bytes(testSignal16(9000, 1)));
                writeModulator(
                    shape, eightBit ? testSignal8(9000, 2) : int16Bytes(testSignal16(9000, 2)));
                return;
            }
            std::vector<std::uint8_t> square;
            for (int i = 0; i < 9000; ++i) {
                const bool high = (i / 30) % 2 != 0;
                if (eightBit)
                    square.push_back(high ? 250 : 4);
                else
                    appendUint16(square, static_cast<std::uint16_t>(high ? 32000 : -32000));
            }
            writeCarrier(shape, square);
            writeModulator(shape, square);
        }
    };

    struct PeakCase {
        bool eightBit;
        int gainPosition;
    };

    TEST_F(RunLevelTest, ThePeakIsTheLoudestSampleTheFileHolds)
    {
        for (const PeakCase c : { PeakCase { false, 50 }, PeakCase { false, 13 },
                 PeakCase { true, 50 }, PeakCase { true, 100 }, PeakCase { false, 0 } }) {
            SCOPED_TRACE(
                testing::Message() << (c.eightBit ? "8" : "16") << "-bit at " << c.gainPosition);
            writeInputs(c.eightBit, false);
            const RunReport report = vocodeAt(c.gainPosition);
            const double inFile = peakInFile(c.eightBit);
            EXPECT_DOUBLE_EQ(report.peak, inFile);
            EXPECT_EQ(inFile > 0.0, c.gainPosition > 0);
        }
    }

    // The gain a clipped run names is the highest slider position at which the same inputs do not
    // clip: one step more and they do.
    TEST_F(RunLevelTest, TheGainNamedForAClippedRunIsTheHighestThatDoesNotClip)
    {
        for (const bool eightBit : { false, true }) {
            SCOPED_TRACE(eightBit ? "8-bit" : "16-bit");
            writeInputs(eightBit, true);
            const RunReport loudest = vocodeAt(100);
            ASSERT_GT(loudest.clippedSamples, 0U);
            EXPECT_DOUBLE_EQ(loudest.peak, 1.0);
            const int named = clipFreeGainPosition(loudest.clipFreeGain);
            ASSERT_LT(named, 100);
            const RunReport atNamed = vocodeAt(named);
            EXPECT_EQ(atNamed.clippedSamples, 0U) << named;
            EXPECT_GT(atNamed.peak, 0.0);
            EXPECT_GT(vocodeAt(named + 1).clippedSamples, 0U) << named + 1;
        }
    }

    struct LengthCase {
        std::size_t carrierFrames, modulatorFrames;
        std::uint16_t carrierChannels, modulatorChannels;
        std::optional<bool> carrierEndedFirst;
    };

    TEST_F(RunLevelTest, EachInputsLengthIsReportedAndWhatWasCutFollows)
    {
        const LengthCase cases[] = {
            { 7000, 9000, 1, 1, true }, // 0.09 s of the modulator left out
            { 9000, 7000, 1, 1, std::nullopt }, // 0.09 s of the carrier: not worth telling
            { 13000, 7000, 2, 1, false }, // 0.27 s of a stereo carrier
            { 7000, 7001, 1, 2, true }, // one frame of a stereo modulator
        };
        for (const LengthCase& c : cases) {
            SCOPED_TRACE(testing::Message() << c.carrierFrames << " against " << c.modulatorFrames);
            writeCarrier({ 1, c.carrierChannels, 22050, 16 },
                int16Bytes(testSignal16(c.carrierFrames * c.carrierChannels, 1)));
            writeModulator({ 1, c.modulatorChannels, 22050, 16 },
                int16Bytes(testSignal16(c.modulatorFrames * c.modulatorChannels, 2)));
            const RunReport report = vocodeAt(50);
            EXPECT_DOUBLE_EQ(report.carrierSeconds, c.carrierFrames / 22050.0);
            EXPECT_DOUBLE_EQ(report.modulatorSeconds, c.modulatorFrames / 22050.0);
            const std::optional<CutShort> cut = cutShortOf(report);
            ASSERT_EQ(cut.has_value(), c.carrierEndedFirst.has_value());
            if (cut) {
                EXPECT_EQ(cut->carrierEndedFirst, *c.carrierEndedFirst);
                EXPECT_NEAR(cut->secondsLeftOut,
                    std::abs(static_cast<double>(c.carrierFrames) - c.modulatorFrames) / 22050.0,
                    1e-12);
            }
        }
    }

} // namespace
} // namespace lumivox::job::test
