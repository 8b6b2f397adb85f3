#include "sound_test_files.h"
#include "wave/sample_stores.h"
#include "wave/wave_file.h"
#include "wave_test_files.h"

#include <cstdlib>
#include <cstring>

namespace lumivox::wave::test {
namespace {

    // A result in 16-bit units and the 24-bit sample it is stored as.
    struct Int24Case {
        double result;
        std::int32_t stored;
        bool clamped;
    };

    constexpr Int24Case int24Cases[] = {
        { 0.0, 0, false },
        { 1.0, 256, false },
        { -1.0, -256, false },
        { 0.5 / 256.0, 1, false }, // half a step rounds away from zero
        { -0.5 / 256.0, -1, false },
        { 0.49 / 256.0, 0, false },
        { 1000.25, 256064, false },
        { 32767.99, 8388605, false },
        { 32767.996, 8388607, false }, // 8388606.976 rounds to the limit itself
        { 32768.0, 8388607, true },
        { -32768.0, -8388607, true }, // the negative limit is -8388607, as -32767 at 16 bits
        { 1e12, 8388607, true },
        { -1e12, -8388607, true },
    };

    TEST(SampleStores, Int24IsTheResultTimes256RoundedAndClamped)
    {
        for (const Int24Case& row : int24Cases) {
            std::uint8_t bytes[3] = { 0xAA, 0xAA, 0xAA };
            EXPECT_EQ(storeInt24(row.result, bytes), row.clamped) << row.result;
            // Sign-extended from the three little-endian bytes.
            const std::int32_t stored
                = static_cast<std::int32_t>((static_cast<std::uint32_t>(bytes[2]) << 24)
                      | (static_cast<std::uint32_t>(bytes[1]) << 16)
                      | (static_cast<std::uint32_t>(bytes[0]) << 8))
                >> 8;
            EXPECT_EQ(stored, row.stored) << row.result;
        }
    }

    // A result in 16-bit units and the float it is stored as: full scale is 1.0, nothing clamped.
    struct FloatCase {
        double result;
        float stored;
        bool beyondFullScale;
    };

    constexpr FloatCase floatCases[] = {
        { 0.0, 0.0f, false },
        { 16384.0, 0.5f, false },
        { -32768.0, -1.0f, false },
        { 32768.0, 1.0f, false },
        { 32769.0, 32769.0f / 32768.0f, true },
        { -65536.0, -2.0f, true },
        { 1.0, 1.0f / 32768.0f, false },
    };

    TEST(SampleStores, Float32IsTheResultOver32768AndNeverClamped)
    {
        for (const FloatCase& row : floatCases) {
            std::uint8_t bytes[4] = {};
            EXPECT_EQ(storeFloat32(row.result, bytes), row.beyondFullScale) << row.result;
            const std::uint32_t bits = static_cast<std::uint32_t>(bytes[0])
                | (static_cast<std::uint32_t>(bytes[1]) << 8)
                | (static_cast<std::uint32_t>(bytes[2]) << 16)
                | (static_cast<std::uint32_t>(bytes[3]) << 24);
            float stored = 0.0f;
            std::memcpy(&stored, &bits, sizeof stored);
            EXPECT_EQ(stored, row.stored) << row.result;
        }
    }

    class WiderOutputs : public WaveFileTest, public ::testing::WithParamInterface<OutputDepth> { };

    // The writer's file at a wider depth is read back as written by libsndfile and by sox.
    TEST_P(WiderOutputs, AreReadBackByLibsndfileAndSox)
    {
        const OutputDepth depth = GetParam();
        const std::vector<double> results { 0.0, 1.5, -1.5, 12345.25, -32767.0, 20000.0 };
        std::vector<std::uint8_t> bytes(4 * results.size());
        const auto byteCount = results.size() * static_cast<std::size_t>(bytesPerSample(depth));
        if (depth == OutputDepth::Int24)
            static_cast<void>(storeBlockInt24(results, bytes.data()));
        else
            static_cast<void>(storeBlockFloat32(results, bytes.data()));

        const std::string file = path("output.wav");
        auto writer = createWaveWriter(file, monoWaveFormat(depth, 44100));
        ASSERT_NE(writer, nullptr);
        ASSERT_EQ(
            writeWave(*writer, bytes.data(), byteCount), static_cast<std::int64_t>(byteCount));
        ASSERT_TRUE(closeWave(std::move(writer)));

        auto reader = openSoundFile(file, 64);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->format().encoding,
            depth == OutputDepth::Int24 ? SampleEncoding::Integer : SampleEncoding::Float);
        const std::vector<double> frames = readAllFrames(*reader);
        ASSERT_EQ(frames.size(), results.size());
        for (std::size_t i = 0; i < results.size(); ++i) // 24 bits keep 1/256 of a 16-bit step
            EXPECT_DOUBLE_EQ(frames[i], results[i]) << i;

        if (std::system("command -v sox >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "sox (Debian package sox) is not installed";
        // sox copies the samples to raw output in the file's own encoding.
        const std::string raw = path("output.raw");
        const std::string type = depth == OutputDepth::Int24 ? "-e signed -b 24" : "-e float -b 32";
        ASSERT_EQ(
            std::system(("sox -V1 '" + file + "' -t raw " + type + " '" + raw + "'").c_str()), 0);
        EXPECT_EQ(readFile(raw), Bytes(bytes.begin(), bytes.begin() + byteCount));
    }

    INSTANTIATE_TEST_SUITE_P(Depths, WiderOutputs,
        ::testing::Values(OutputDepth::Int24, OutputDepth::Float32),
        [](const auto& param) { return param.param == OutputDepth::Int24 ? "Int24" : "Float32"; });

} // namespace
} // namespace lumivox::wave::test
