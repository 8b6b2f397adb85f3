#include "sample_formats.h"

#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace lumivox::job {
namespace {

    // Returns prepared results in turn and keeps the values it was given.
    struct ScriptedEngine {
        std::vector<double> results;
        std::vector<double> carriers;
        std::vector<double> modulators;

        double processSample(double carrier, double modulator)
        {
            carriers.push_back(carrier);
            modulators.push_back(modulator);
            return results.at(carriers.size() - 1);
        }
    };

    int16_t mix16(int16_t left, int16_t right)
    {
        const std::array<int16_t, 2> source { left, right };
        int16_t mono = 12345;
        mixToMonoInt16(source.data(), &mono, 4);
        return mono;
    }

    uint8_t mix8(uint8_t left, uint8_t right)
    {
        const std::array<uint8_t, 2> source { left, right };
        uint8_t mono = 99;
        mixToMonoUInt8(source.data(), &mono, 2);
        return mono;
    }

} // namespace

TEST(ChannelReduction, Int16HalvesEachChannelTowardZero)
{
    EXPECT_EQ(mix16(3, 4), 3);
    EXPECT_EQ(mix16(-3, -4), -3);
    EXPECT_EQ(mix16(1, 1), 0);
    EXPECT_EQ(mix16(-1, -1), 0);
    EXPECT_EQ(mix16(32767, 32767), 32766);
    EXPECT_EQ(mix16(-32768, -32768), -32768);
}

TEST(ChannelReduction, UInt8HalvesEachChannelDownward)
{
    EXPECT_EQ(mix8(255, 255), 254);
    EXPECT_EQ(mix8(128, 128), 128);
    EXPECT_EQ(mix8(1, 1), 0);
    EXPECT_EQ(mix8(0, 255), 127);
}

TEST(ChannelReduction, Int16IgnoresAnIncompleteFrame)
{
    std::vector<int16_t> source(4095, 2);
    std::vector<int16_t> mono(2048, -7);
    mixToMonoInt16(source.data(), mono.data(), 8190);
    EXPECT_EQ(mono[2046], 2);
    EXPECT_EQ(mono[2047], -7); // 8190 bytes are 2047 whole frames
}

TEST(ChannelReduction, UInt8CountsWholeFrames)
{
    std::vector<uint8_t> source(8191, 200);
    std::vector<uint8_t> mono(4096, 7);
    mixToMonoUInt8(source.data(), mono.data(), 8191);
    EXPECT_EQ(mono[4094], 200);
    EXPECT_EQ(mono[4095], 7);
}

TEST(ChannelReduction, UInt8WithANegativeCountDoesNothing)
{
    const std::array<uint8_t, 2> source { 10, 10 };
    uint8_t mono = 99;
    mixToMonoUInt8(source.data(), &mono, -2);
    EXPECT_EQ(mono, 99);
}

TEST(BlockInt16, PassesTheCarrierAsIsAndTheModulatorOver32767)
{
    ScriptedEngine engine { { 0.0, 0.0, 0.0 }, {}, {} };
    const std::array<int16_t, 3> carrier { -32768, 0, 32767 };
    const std::array<int16_t, 3> modulator { 32767, -32767, -32768 };
    std::array<int16_t, 3> output {};
    processBlockInt16(engine, output.data(), carrier.data(), modulator.data(), 3);
    EXPECT_EQ(engine.carriers, (std::vector<double> { -32768.0, 0.0, 32767.0 }));
    EXPECT_EQ(engine.modulators, (std::vector<double> { 1.0, -1.0, -32768.0 / 32767.0 }));
}

TEST(BlockInt16, ClampsToPlusMinus32767AndTruncates)
{
    ScriptedEngine engine { { 40000.2, -40000.2, -0.9, 1234.9, -1234.9, -32767.5 }, {}, {} };
    const std::array<int16_t, 6> zeros {};
    std::array<int16_t, 6> output {};
    processBlockInt16(engine, output.data(), zeros.data(), zeros.data(), 6);
    EXPECT_EQ(output, (std::array<int16_t, 6> { 32767, -32767, 0, 1234, -1234, -32767 }));
}

TEST(BlockUInt8, CentresOn127)
{
    ScriptedEngine engine { { 0.0, 0.0, 0.0 }, {}, {} };
    const std::array<uint8_t, 3> carrier { 127, 0, 255 };
    const std::array<uint8_t, 3> modulator { 254, 0, 127 };
    std::array<uint8_t, 3> output {};
    processBlockUInt8(engine, output.data(), carrier.data(), modulator.data(), 3);
    EXPECT_EQ(engine.carriers, (std::vector<double> { 0.0, -127.0, 128.0 }));
    EXPECT_EQ(engine.modulators, (std::vector<double> { 1.0, -1.0, 0.0 }));
}

TEST(BlockUInt8, ClampsAndFloorsAroundTheZeroLine)
{
    ScriptedEngine engine { { 200.0, -200.0, -127.0, 0.0, 127.0, -0.5, 0.5 }, {}, {} };
    const std::array<uint8_t, 7> silence { 127, 127, 127, 127, 127, 127, 127 };
    std::array<uint8_t, 7> output {};
    processBlockUInt8(engine, output.data(), silence.data(), silence.data(), 7);
    EXPECT_EQ(output, (std::array<uint8_t, 7> { 254, 0, 0, 127, 254, 126, 127 }));
}

TEST(BlockInt8, UsesTheSignedByteAnd127)
{
    ScriptedEngine engine { { 300.0, -300.0, -5.7, 5.7 }, {}, {} };
    const std::array<int8_t, 4> carrier { -128, 127, 0, 1 };
    const std::array<int8_t, 4> modulator { 127, -127, -128, 0 };
    std::array<int8_t, 4> output {};
    processBlockInt8(engine, output.data(), carrier.data(), modulator.data(), 4);
    EXPECT_EQ(engine.carriers, (std::vector<double> { -128.0, 127.0, 0.0, 1.0 }));
    EXPECT_EQ(engine.modulators, (std::vector<double> { 1.0, -1.0, -128.0 / 127.0, 0.0 }));
    EXPECT_EQ(output, (std::array<int8_t, 4> { 127, -127, -5, 5 }));
}

TEST(BlockDouble, PassesValuesThroughUnclamped)
{
    ScriptedEngine engine { { 1e9, -1e9 }, {}, {} };
    const std::array<double, 2> carrier { 0.25, -70000.0 };
    const std::array<double, 2> modulator { 3.5, -0.125 };
    std::array<double, 2> output {};
    processBlockDouble(engine, output.data(), carrier.data(), modulator.data(), 2);
    EXPECT_EQ(engine.carriers, (std::vector<double> { 0.25, -70000.0 }));
    EXPECT_EQ(engine.modulators, (std::vector<double> { 3.5, -0.125 }));
    EXPECT_EQ(output, (std::array<double, 2> { 1e9, -1e9 }));
}

TEST(BlockFunctions, ACountOfZeroOrLessWritesNothing)
{
    ScriptedEngine engine;
    const std::array<int16_t, 1> in16 { 5 };
    std::array<int16_t, 1> out16 { 77 };
    processBlockInt16(engine, out16.data(), in16.data(), in16.data(), 0);
    processBlockInt16(engine, out16.data(), in16.data(), in16.data(), -4);
    const std::array<uint8_t, 1> in8 { 5 };
    std::array<uint8_t, 1> out8 { 77 };
    processBlockUInt8(engine, out8.data(), in8.data(), in8.data(), 0);
    EXPECT_EQ(out16[0], 77);
    EXPECT_EQ(out8[0], 77);
    EXPECT_TRUE(engine.carriers.empty());
}

} // namespace lumivox::job
