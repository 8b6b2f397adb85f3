#include "wave/wave_file.h"
#include "wave_test_files.h"

#include <array>

namespace lumivox::wave::test {
namespace {

    // The 46-byte header the writer must produce, sizes as given.
    Bytes expectedHeader(std::uint32_t riffSize, std::uint32_t sampleRate, std::uint16_t bits,
        std::uint32_t dataSize)
    {
        Bytes bytes;
        appendText(bytes, "RIFF");
        appendUint32(bytes, riffSize);
        appendText(bytes, "WAVEfmt ");
        appendUint32(bytes, 18);
        append(bytes, pcmFormatPayload(1, sampleRate, bits, 16));
        appendUint16(bytes, 0);
        appendText(bytes, "data");
        appendUint32(bytes, dataSize);
        return bytes;
    }

    using WaveWriterLayout = WaveFileTest;

    TEST_F(WaveWriterLayout, EmptyFileIsTheBare46ByteHeader)
    {
        auto writer = createWaveWriter(path("empty.wav"), pcmWaveFormat(1, 44100, 16));
        ASSERT_NE(writer, nullptr);
        EXPECT_TRUE(closeWave(std::move(writer)));
        EXPECT_EQ(readFile(path("empty.wav")), expectedHeader(38, 44100, 16, 0));
    }

    TEST_F(WaveWriterLayout, OddLengthIsFollowedByOneZeroPadByte)
    {
        auto writer = createWaveWriter(path("odd.wav"), pcmWaveFormat(1, 8000, 8));
        ASSERT_NE(writer, nullptr);
        const Bytes samples = countingBytes(7, 200);
        EXPECT_EQ(writeWave(*writer, samples.data(), samples.size()), 7);
        EXPECT_TRUE(closeWave(std::move(writer)));

        Bytes expected = expectedHeader(46, 8000, 8, 7);
        append(expected, samples);
        expected.push_back(0);
        EXPECT_EQ(readFile(path("odd.wav")), expected);
        EXPECT_EQ(expected.size(), 54u);
    }

    TEST_F(WaveWriterLayout, BlocksAreAppendedInOrderAndSizesCountThemAll)
    {
        auto writer = createWaveWriter(path("blocks.wav"), pcmWaveFormat(1, 22050, 16));
        ASSERT_NE(writer, nullptr);
        const Bytes first = countingBytes(4096, 0);
        const Bytes second = countingBytes(1000, 7);
        EXPECT_EQ(writeWave(*writer, first.data(), first.size()), 4096);
        EXPECT_EQ(writeWave(*writer, nullptr, 0), 0);
        EXPECT_EQ(writeWave(*writer, second.data(), second.size()), 1000);
        EXPECT_EQ(writer->dataBytesWritten(), 5096u);
        EXPECT_TRUE(closeWave(std::move(writer)));

        Bytes expected = expectedHeader(38 + 5096, 22050, 16, 5096);
        append(expected, first);
        append(expected, second);
        EXPECT_EQ(readFile(path("blocks.wav")), expected);
    }

    // Until its sizes are first refreshed, a file being written is a valid empty wave file.
    TEST_F(WaveWriterLayout, AnOpenedFileIsAnEmptyWaveFile)
    {
        auto writer = createWaveWriter(path("open.wav"), pcmWaveFormat(1, 44100, 16));
        ASSERT_NE(writer, nullptr);
        EXPECT_EQ(readFile(path("open.wav")), expectedHeader(38, 44100, 16, 0));
        EXPECT_TRUE(closeWave(std::move(writer)));
    }

    TEST_F(WaveWriterLayout, ExistingFileIsEmptiedAndRewritten)
    {
        writeFile("old.wav", countingBytes(5000));
        auto writer = createWaveWriter(path("old.wav"), pcmWaveFormat(1, 11025, 8));
        ASSERT_NE(writer, nullptr);
        const std::uint8_t sample = 127;
        EXPECT_EQ(writeWave(*writer, &sample, 1), 1);
        EXPECT_TRUE(closeWave(std::move(writer)));

        Bytes expected = expectedHeader(40, 11025, 8, 1);
        expected.push_back(127);
        expected.push_back(0);
        EXPECT_EQ(readFile(path("old.wav")), expected);
    }

    TEST_F(WaveWriterLayout, ExtraFormatBytesLengthenTheFmtChunk)
    {
        WaveFormat format = pcmWaveFormat(1, 44100, 16);
        format.extraSize = 3;
        const std::array<std::uint8_t, 3> extra { 0xAA, 0xBB, 0xCC };
        auto writer = createWaveWriter(path("extra.wav"), format, extra);
        ASSERT_NE(writer, nullptr);
        EXPECT_TRUE(closeWave(std::move(writer)));

        const Bytes bytes = readFile(path("extra.wav"));
        ASSERT_EQ(bytes.size(), 50u); // 18 + 3 record bytes, one pad byte
        EXPECT_EQ(uint32At(bytes, 16), 21u);
        EXPECT_EQ(bytes[36], 3);
        EXPECT_EQ(bytes[38], 0xAA);
        EXPECT_EQ(bytes[40], 0xCC);
        EXPECT_EQ(bytes[41], 0); // pad
        EXPECT_EQ(std::string(bytes.begin() + 42, bytes.begin() + 46), "data");
        EXPECT_EQ(uint32At(bytes, 4), 42u);
    }

    TEST_F(WaveWriterLayout, ExtraSizeWithoutItsBytesIsRefused)
    {
        WaveFormat format = pcmWaveFormat(1, 44100, 16);
        format.extraSize = 2;
        EXPECT_EQ(createWaveWriter(path("refused.wav"), format), nullptr);
        EXPECT_FALSE(std::filesystem::exists(path("refused.wav")));
    }

    TEST_F(WaveWriterLayout, WrittenFileReadsBackThroughTheReader)
    {
        auto writer = createWaveWriter(path("round.wav"), pcmWaveFormat(1, 48000, 16));
        ASSERT_NE(writer, nullptr);
        const Bytes samples = countingBytes(333);
        ASSERT_EQ(writeWave(*writer, samples.data(), samples.size()), 333);
        ASSERT_TRUE(closeWave(std::move(writer)));

        WaveFormat format;
        std::uint32_t dataLength = 0;
        auto reader = openWaveReader(path("round.wav"), &format, &dataLength);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(format.sampleRate, 48000u);
        EXPECT_EQ(format.bitsPerSample, 16);
        EXPECT_EQ(reader->formatBytes().size(), 18u);
        EXPECT_EQ(dataLength, 333u);
        Bytes back(400);
        EXPECT_EQ(readWave(*reader, back.data(), back.size()), 333);
        back.resize(333);
        EXPECT_EQ(back, samples);
        EXPECT_TRUE(closeWave(std::move(reader)));
    }

} // namespace
} // namespace lumivox::wave::test
