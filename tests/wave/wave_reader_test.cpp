#include "wave/wave_file.h"
#include "wave_test_files.h"

namespace lumivox::wave::test {
namespace {

    Bytes fmt16(std::uint16_t channels = 1, std::uint32_t rate = 44100, std::uint16_t bits = 16)
    {
        return chunk("fmt ", pcmFormatPayload(channels, rate, bits));
    }

    // Reads in small blocks until the reader reports the end, failing the test on an error.
    Bytes readAll(WaveReader& reader)
    {
        Bytes all;
        std::uint8_t block[7];
        for (;;) {
            const std::int64_t bytesRead = readWave(reader, block, sizeof block);
            EXPECT_GE(bytesRead, 0);
            if (bytesRead <= 0)
                return all;
            all.insert(all.end(), block, block + bytesRead);
        }
    }

    class WaveReaderOpen : public WaveFileTest {
    protected:
        // Opens the bytes as a file; reports the format, length and samples of an accepted file.
        bool open(const Bytes& bytes)
        {
            reader_ = openWaveReader(writeFile("in.wav", bytes), &format_, &dataLength_);
            if (reader_ == nullptr)
                return false;
            samples_ = readAll(*reader_);
            return true;
        }

        std::unique_ptr<WaveReader> reader_;
        WaveFormat format_;
        std::uint32_t dataLength_ = 12345;
        Bytes samples_;
    };

    TEST_F(WaveReaderOpen, MinimalFileGivesFormatLengthAndSamples)
    {
        ASSERT_TRUE(open(riff("WAVE", { fmt16(2, 22050, 8), chunk("data", countingBytes(20)) })));
        EXPECT_EQ(format_.formatTag, 1);
        EXPECT_EQ(format_.channels, 2);
        EXPECT_EQ(format_.sampleRate, 22050u);
        EXPECT_EQ(format_.avgBytesPerSec, 44100u);
        EXPECT_EQ(format_.blockAlign, 2);
        EXPECT_EQ(format_.bitsPerSample, 8);
        EXPECT_EQ(format_.extraSize, 0);
        EXPECT_EQ(reader_->formatBytes().size(), 16u);
        EXPECT_EQ(dataLength_, 20u);
        EXPECT_EQ(samples_, countingBytes(20));
        EXPECT_TRUE(closeWave(std::move(reader_)));
    }

    // Whether the data chunk's declared size is borne out by the file: a header written ahead of
    // a stream declares far more than the file holds, and its length is then only a claim.
    struct DeclaredCase {
        std::uint32_t declared;
        std::size_t present;
        bool held;
    };

    class WaveReaderDeclared : public WaveFileTest,
                               public ::testing::WithParamInterface<DeclaredCase> { };

    TEST_P(WaveReaderDeclared, SaysWhetherTheFileHoldsWhatItsDataChunkDeclares)
    {
        const DeclaredCase c = GetParam();
        Bytes bytes = riff("WAVE", { fmt16(1, 8000, 8), chunk("data", countingBytes(c.present)) });
        constexpr std::size_t sizeAt = 12 + 8 + 16 + 4; // the data chunk's size field
        for (std::size_t i = 0; i < 4; ++i)
            bytes[sizeAt + i] = static_cast<std::uint8_t>(c.declared >> (8 * i));
        std::uint32_t dataLength = 0;
        auto reader = openWaveReader(writeFile("in.wav", bytes), nullptr, &dataLength);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(dataLength, c.declared);
        EXPECT_EQ(reader->declaredLengthHeld(), c.held);
    }

    INSTANTIATE_TEST_SUITE_P(Sizes, WaveReaderDeclared,
        ::testing::Values(DeclaredCase { 20, 20, true }, DeclaredCase { 10, 20, true },
            DeclaredCase { 21, 20, false }, DeclaredCase { 0xFFFFFFFFu, 20, false },
            DeclaredCase { 0x7FFFF000u, 4096, false }, DeclaredCase { 0, 0, true }));

    TEST_F(WaveReaderOpen, FortyByteFmtChunkIsHandedOutWhole)
    {
        const Bytes payload = pcmFormatPayload(1, 48000, 16, 40);
        ASSERT_TRUE(
            open(riff("WAVE", { chunk("fmt ", payload), chunk("data", countingBytes(4)) })));
        EXPECT_EQ(Bytes(reader_->formatBytes().begin(), reader_->formatBytes().end()), payload);
        EXPECT_EQ(format_.extraSize, 0x1110); // bytes 16 and 17 of the counting filler
        EXPECT_EQ(samples_, countingBytes(4));
    }

    TEST_F(WaveReaderOpen, OddFmtSizeIsFollowedByItsPadByte)
    {
        const Bytes payload = pcmFormatPayload(1, 8000, 8, 17);
        ASSERT_TRUE(
            open(riff("WAVE", { chunk("fmt ", payload), chunk("data", countingBytes(3)) })));
        EXPECT_EQ(reader_->formatBytes().size(), 17u);
        EXPECT_EQ(format_.extraSize, 0);
        EXPECT_EQ(samples_, countingBytes(3));
    }

    TEST_F(WaveReaderOpen, ForeignChunksBeforeAndBetweenAreSkipped)
    {
        ASSERT_TRUE(open(riff("WAVE",
            { chunk("JUNK", countingBytes(5)), fmt16(), chunk("LIST", countingBytes(9, 90)),
                chunk("fact", countingBytes(4)), chunk("data", countingBytes(6, 40)) })));
        EXPECT_EQ(samples_, countingBytes(6, 40));
    }

    TEST_F(WaveReaderOpen, ChunksAfterTheDataNeverComeBack)
    {
        ASSERT_TRUE(open(riff("WAVE",
            { fmt16(), chunk("data", countingBytes(9)), chunk("LIST", countingBytes(30, 77)),
                chunk("id3 ", countingBytes(10)) })));
        EXPECT_EQ(samples_, countingBytes(9)); // neither the pad byte nor the LIST bytes
        std::uint8_t more = 0;
        EXPECT_EQ(readWave(*reader_, &more, 1), 0);
    }

    TEST_F(WaveReaderOpen, DataLongerThanTheFileEndsQuietlyAtTheEnd)
    {
        Bytes file = riff("WAVE", { fmt16(), chunk("data", countingBytes(10), 1000000) });
        ASSERT_TRUE(open(file));
        EXPECT_EQ(dataLength_, 1000000u);
        EXPECT_EQ(samples_, countingBytes(10));
    }

    TEST_F(WaveReaderOpen, StreamedSizesOfAllOnesStillReadTheSamples)
    {
        Bytes file = riff("WAVE", { fmt16(), chunk("data", countingBytes(8), 0xFFFFFFFF) });
        file[4] = file[5] = file[6] = file[7] = 0xFF;
        ASSERT_TRUE(open(file));
        EXPECT_EQ(samples_, countingBytes(8));
    }

    TEST_F(WaveReaderOpen, WaveAfterARiffOfAnotherFormTypeIsFound)
    {
        Bytes file = riff("AVI ", { chunk("data", countingBytes(6)) });
        append(file, riff("WAVE", { fmt16(), chunk("data", countingBytes(2)) }));
        ASSERT_TRUE(open(file));
        EXPECT_EQ(samples_, countingBytes(2));
    }

    TEST_F(WaveReaderOpen, AnyFormatTagIsAccepted)
    {
        Bytes payload = pcmFormatPayload(1, 44100, 32);
        payload[0] = 0xFE;
        payload[1] = 0xFF;
        ASSERT_TRUE(open(riff("WAVE", { chunk("fmt ", payload), chunk("data", {}) })));
        EXPECT_EQ(format_.formatTag, 0xFFFE);
        EXPECT_TRUE(samples_.empty());
    }

    TEST_F(WaveReaderOpen, LargestFormatRecordIsAccepted)
    {
        const Bytes payload = pcmFormatPayload(1, 44100, 16, largestFormatBytes);
        ASSERT_TRUE(
            open(riff("WAVE", { chunk("fmt ", payload), chunk("data", countingBytes(2)) })));
        EXPECT_EQ(reader_->formatBytes().size(), largestFormatBytes);
    }

    TEST_F(WaveReaderOpen, OutArgumentsAreOptional)
    {
        const std::string file
            = writeFile("plain.wav", riff("WAVE", { fmt16(), chunk("data", countingBytes(2)) }));
        auto reader = openWaveReader(file);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->dataLength(), 2u);
        EXPECT_EQ(reader->format().sampleRate, 44100u);
    }

    using WaveReaderRefusal = WaveReaderOpen;

    TEST_F(WaveReaderRefusal, DataBeforeFmt)
    {
        EXPECT_FALSE(open(riff("WAVE", { chunk("data", countingBytes(4)), fmt16() })));
    }

    TEST_F(WaveReaderRefusal, RiffOfAnotherFormType)
    {
        EXPECT_FALSE(open(riff("AVI ", { fmt16(), chunk("data", countingBytes(4)) })));
    }

    TEST_F(WaveReaderRefusal, NoChunkStructure)
    {
        EXPECT_FALSE(open({}));
        EXPECT_FALSE(open(countingBytes(3)));
        Bytes text;
        appendText(text, "This is not a sound file at all, just some words.\n");
        EXPECT_FALSE(open(text));
    }

    TEST_F(WaveReaderRefusal, MissingFmtOrData)
    {
        EXPECT_FALSE(open(riff("WAVE", { chunk("data", countingBytes(4)) })));
        EXPECT_FALSE(open(riff("WAVE", { fmt16() })));
    }

    TEST_F(WaveReaderRefusal, DataOutsideTheRiffChunk)
    {
        Bytes file = riff("WAVE", { fmt16() });
        append(file, chunk("data", countingBytes(4)));
        EXPECT_FALSE(open(file));
    }

    TEST_F(WaveReaderRefusal, FmtShorterThanTheFieldsCallersRead)
    {
        EXPECT_FALSE(open(riff(
            "WAVE", { chunk("fmt ", pcmFormatPayload(1, 44100, 16, 14)), chunk("data", {}) })));
        EXPECT_FALSE(open(riff("WAVE", { chunk("fmt ", {}), chunk("data", {}) })));
    }

    TEST_F(WaveReaderRefusal, FmtLargerThanAnyFormatRecord)
    {
        const Bytes payload = pcmFormatPayload(1, 44100, 16, largestFormatBytes + 1);
        EXPECT_FALSE(
            open(riff("WAVE", { chunk("fmt ", payload), chunk("data", countingBytes(2)) })));
    }

    TEST_F(WaveReaderRefusal, HugeDeclaredSizesCostNothing)
    {
        // fmt declares 4 GiB: refused before anything is allocated.
        EXPECT_FALSE(open(riff("WAVE",
            { chunk("fmt ", pcmFormatPayload(1, 44100, 16), 0xFFFFFFFF), chunk("data", {}) })));
        // A foreign chunk that declares 4 GiB jumps past the end of the file.
        EXPECT_FALSE(open(riff(
            "WAVE", { fmt16(), chunk("JUNK", countingBytes(4), 0xFFFFFFF0), chunk("data", {}) })));
    }

    TEST_F(WaveReaderRefusal, FmtCutShortByTheEndOfTheFile)
    {
        Bytes file = riff("WAVE", { chunk("fmt ", pcmFormatPayload(1, 44100, 16, 18)) });
        file.resize(file.size() - 5);
        EXPECT_FALSE(open(file));
    }

    TEST_F(WaveReaderRefusal, TinyRiffSizeHidesTheData)
    {
        Bytes file = riff("WAVE", { fmt16(), chunk("data", countingBytes(4)) });
        file[4] = 4; // the RIFF chunk holds only its form type
        file[5] = file[6] = file[7] = 0;
        EXPECT_FALSE(open(file));
    }

    TEST_F(WaveReaderRefusal, PathsThatAreNotRegularFiles)
    {
        EXPECT_EQ(openWaveReader(path("absent.wav")), nullptr);
        EXPECT_EQ(openWaveReader(path("")), nullptr); // a folder
        EXPECT_EQ(openWaveReader("/dev/zero"), nullptr); // endless zero-sized chunks
        EXPECT_EQ(openWaveReader(""), nullptr);
    }

    TEST(WaveReaderHandle, ReaderWithoutFileRefusesEverything)
    {
        auto reader = std::make_unique<WaveReader>();
        std::uint8_t byte = 0;
        EXPECT_EQ(readWave(*reader, &byte, 1), -1);
        EXPECT_FALSE(closeWave(std::move(reader)));
        EXPECT_FALSE(closeWave(std::unique_ptr<WaveReader>()));
    }

} // namespace
} // namespace lumivox::wave::test
