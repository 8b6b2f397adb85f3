#include "carrier_supply.h"
#include "input_blocks.h"

#include <gtest/gtest.h>
#include <vector>

namespace lumivox::job::test {
namespace {

    // A modulator whose frame i holds the value i, given in reads of up to the caller's size.
    class CountingModulator final : public InputSource {
    public:
        explicit CountingModulator(std::uint64_t frames)
            : InputSource(44100, wave::OutputDepth::Int16)
            , total(frames)
        {
        }
        std::int64_t read(std::span<double> values) override
        {
            std::size_t count = 0;
            for (; count < values.size() && next < total; ++count)
                values[count] = static_cast<double>(next++);
            return static_cast<std::int64_t>(count);
        }
        std::uint64_t frameCount() const override { return total; }
        std::string failureCause() const override { return {}; }

    private:
        std::uint64_t total;
        std::uint64_t next = 0;
    };

    // A carrier that hears the modulator and writes, into each frame it gives, how many modulator
    // frames it had heard when it was read.
    class HearingCarrier final : public InputSource, public ModulatorListener {
    public:
        explicit HearingCarrier(bool listenAhead)
            : InputSource(44100, wave::OutputDepth::Int16)
            , ahead(listenAhead)
        {
        }
        std::int64_t read(std::span<double> values) override
        {
            for (double& value : values)
                value = static_cast<double>(heard.size());
            return static_cast<std::int64_t>(values.size());
        }
        std::uint64_t frameCount() const override { return std::uint64_t(-1); }
        std::string failureCause() const override { return {}; }
        bool listensAhead() const override { return ahead; }
        void listen(std::span<const double> modulator) override
        {
            heard.insert(heard.end(), modulator.begin(), modulator.end());
        }

        std::vector<double> heard;

    private:
        bool ahead;
    };

    struct ListenCase {
        bool ahead;
        std::uint64_t modulatorFrames;
        int blockFrames;
    };

    class InputBlocksListening : public ::testing::TestWithParam<ListenCase> { };

    // In step, the carrier has heard exactly the block it is read for; ahead, also the next one.
    // Either way it hears every modulator frame once, in order, and the run is the modulator's.
    TEST_P(InputBlocksListening, TheCarrierHearsEachBlockInStepOrOneAhead)
    {
        const ListenCase c = GetParam();
        CountingModulator modulator(c.modulatorFrames);
        HearingCarrier carrier(c.ahead);
        InputBlocks blocks(carrier, modulator, c.blockFrames, carrier);
        std::vector<double> carrierValues(InputBlocks::maxFrames);
        std::vector<double> modulatorValues(InputBlocks::maxFrames);
        std::uint64_t given = 0;
        int frameCount = 0;
        while (
            blocks.read(carrierValues, modulatorValues, frameCount) == InputBlocks::Result::Block) {
            ASSERT_GT(frameCount, 0);
            EXPECT_EQ(modulatorValues[0], static_cast<double>(given));
            const std::uint64_t blockEnd = given + static_cast<std::uint64_t>(frameCount);
            const std::uint64_t wanted = c.ahead
                ? std::min(blockEnd + static_cast<std::uint64_t>(c.blockFrames), c.modulatorFrames)
                : blockEnd;
            EXPECT_EQ(carrierValues[0], static_cast<double>(wanted)) << "block at " << given;
            given = blockEnd;
        }
        EXPECT_EQ(given, c.modulatorFrames);
        EXPECT_EQ(blocks.framesTaken(), c.modulatorFrames);
        ASSERT_EQ(carrier.heard.size(), c.modulatorFrames);
        for (std::size_t i = 0; i < carrier.heard.size(); ++i)
            ASSERT_EQ(carrier.heard[i], static_cast<double>(i));
    }

    INSTANTIATE_TEST_SUITE_P(Modes, InputBlocksListening,
        ::testing::Values(ListenCase { false, 5000, 2048 }, ListenCase { true, 5000, 2048 },
            ListenCase { true, 4096, 2048 }, ListenCase { true, 100, 4096 },
            ListenCase { false, 0, 2048 }, ListenCase { true, 0, 2048 }));

} // namespace
} // namespace lumivox::job::test
