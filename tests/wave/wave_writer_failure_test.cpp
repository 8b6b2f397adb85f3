#include "wave/wave_file.h"
#include "wave_test_files.h"

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>

namespace lumivox::wave::test {
namespace {

    WaveFormat pcm8Mono() { return pcmWaveFormat(1, 8000, 8); }

    // The audio the children write, one long stream whose bytes differ from their neighbours, so a
    // byte read back from the wrong place does not pass.
    Bytes streamBytes(std::size_t offset, std::size_t count)
    {
        Bytes bytes(count);
        for (std::size_t i = 0; i < count; ++i)
            bytes[i] = static_cast<std::uint8_t>((offset + i) * 37 + 11);
        return bytes;
    }

    // Runs the check in a child process whose files may not grow past fileSizeLimit bytes, so the
    // limit cannot touch the test runner; the check's non-zero result names the step that failed.
    int runUnderFileSizeLimit(rlim_t fileSizeLimit, const std::function<int()>& check)
    {
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
            const rlimit limit { fileSizeLimit, fileSizeLimit };
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(100);
            ::_exit(check());
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }

    // Writes the stream in blocks until a write fails, then closes the writer; 0 when the write
    // failed, stayed failed and closing reported it.
    int writeUntilFailure(const std::string& filePath, const WaveFormat& format,
        std::size_t blockBytes, int blockLimit)
    {
        auto writer = createWaveWriter(filePath, format);
        if (writer == nullptr)
            return 1;
        std::size_t offset = 0;
        for (int block = 0;; ++block) {
            if (block == blockLimit)
                return 2;
            const Bytes bytes = streamBytes(offset, blockBytes);
            if (writeWave(*writer, bytes.data(), bytes.size())
                != static_cast<std::int64_t>(blockBytes))
                break;
            offset += blockBytes;
        }
        if (!writer->failed() || writeWave(*writer, streamBytes(0, 1).data(), 1) != -1)
            return 3;
        if (closeWave(std::move(writer)))
            return 4;
        return 0;
    }

    class WaveWriterFailure : public WaveFileTest {
    protected:
        // Checks that the file is a complete wave file of the given length whose data chunk holds
        // the first dataBytes of the stream, with a pad byte after odd data only when the file has
        // room.
        static void expectFinishedWithStreamStart(
            const std::string& filePath, std::size_t fileBytes, std::uint32_t dataBytes)
        {
            const Bytes bytes = readFile(filePath);
            ASSERT_EQ(bytes.size(), fileBytes);
            EXPECT_EQ(uint32At(bytes, 4), fileBytes - 8);
            EXPECT_EQ(uint32At(bytes, 42), dataBytes);
            if (fileBytes > 46u + dataBytes) {
                EXPECT_EQ(bytes.back(), 0);
            }

            WaveFormat format;
            std::uint32_t dataLength = 0;
            auto reader = openWaveReader(filePath, &format, &dataLength);
            ASSERT_NE(reader, nullptr);
            EXPECT_EQ(dataLength, dataBytes);
            EXPECT_EQ(dataBytes % format.blockAlign, 0u);
            Bytes data(dataBytes + 100);
            EXPECT_EQ(readWave(*reader, data.data(), data.size()), dataBytes);
            data.resize(dataBytes);
            EXPECT_EQ(data, streamBytes(0, dataBytes));
            EXPECT_TRUE(closeWave(std::move(reader)));
        }
    };

    TEST_F(WaveWriterFailure, PathThatCannotBeCreatedGivesNoWriter)
    {
        EXPECT_EQ(createWaveWriter(path("missing-folder/out.wav"), pcm8Mono()), nullptr);
        EXPECT_EQ(createWaveWriter(path(""), pcm8Mono()), nullptr); // the folder itself
        EXPECT_EQ(createWaveWriter("", pcm8Mono()), nullptr);
        EXPECT_EQ(createWaveWriter(std::string("out\0.wav", 8), pcm8Mono()), nullptr);
    }

    TEST_F(WaveWriterFailure, FullDeviceIsReportedAtCreate)
    {
        EXPECT_EQ(createWaveWriter("/dev/full", pcm8Mono()), nullptr);
    }

    TEST_F(WaveWriterFailure, WriterWithoutFileRefusesEverything)
    {
        auto writer = std::make_unique<WaveWriter>();
        const std::uint8_t sample = 1;
        EXPECT_EQ(writeWave(*writer, &sample, 1), -1);
        EXPECT_FALSE(closeWave(std::move(writer)));
        EXPECT_FALSE(closeWave(std::unique_ptr<WaveWriter>()));
    }

    TEST_F(WaveWriterFailure, DataTooLongForTheSizeFieldsIsRefusedUnread)
    {
        auto writer = createWaveWriter(path("huge.wav"), pcm8Mono());
        ASSERT_NE(writer, nullptr);
        const std::uint8_t sample = 1;
        // The count is refused before a byte of the buffer is touched.
        EXPECT_EQ(writeWave(*writer, &sample, std::size_t { 0xFFFFFFFF } - 30), -1);
        EXPECT_TRUE(writer->failed());
        EXPECT_EQ(writer->dataBytesWritten(), 0u);
        EXPECT_FALSE(closeWave(std::move(writer)));
        EXPECT_EQ(readFile(path("huge.wav")).size(), 46u);
    }

    TEST_F(WaveWriterFailure, AudioBeforeARefusedCountIsKeptInAFinishedFile)
    {
        auto writer = createWaveWriter(path("kept.wav"), pcm8Mono());
        ASSERT_NE(writer, nullptr);
        const Bytes samples = streamBytes(0, 5);
        EXPECT_EQ(writeWave(*writer, samples.data(), samples.size()), 5);
        EXPECT_EQ(writeWave(*writer, samples.data(), std::size_t { 0xFFFFFFFF }), -1);
        EXPECT_FALSE(closeWave(std::move(writer)));
        // The five accepted bytes were still in the buffer; they are flushed, padded and counted.
        expectFinishedWithStreamStart(path("kept.wav"), 46 + 5 + 1, 5);
    }

    TEST_F(WaveWriterFailure, WriteBeyondFileSizeLimitFailsAndStaysFailed)
    {
        // The first block may still fit in the I/O buffer; its flush fails by the third.
        const std::string filePath = path("limited.wav");
        EXPECT_EQ(runUnderFileSizeLimit(
                      1000, [&] { return writeUntilFailure(filePath, pcm8Mono(), 4096, 3); }),
            0);
        // The file holds the audio that fitted, as a valid recording cut short.
        expectFinishedWithStreamStart(filePath, 1000, 954);
    }

    TEST_F(WaveWriterFailure, AFrameCutByTheFailureIsDropped)
    {
        // 16-bit stereo: 957 bytes fit, the last frame of which only in part.
        const std::string filePath = path("stereo.wav");
        EXPECT_EQ(
            runUnderFileSizeLimit(1003,
                [&] { return writeUntilFailure(filePath, pcmWaveFormat(2, 8000, 16), 4096, 3); }),
            0);
        expectFinishedWithStreamStart(filePath, 46 + 956, 956);
    }

    TEST_F(WaveWriterFailure, OddDataWithoutRoomForThePadByteEndsTheFile)
    {
        const std::string filePath = path("odd.wav");
        EXPECT_EQ(runUnderFileSizeLimit(
                      1001, [&] { return writeUntilFailure(filePath, pcm8Mono(), 4096, 3); }),
            0);
        expectFinishedWithStreamStart(filePath, 1001, 955);
    }

    TEST_F(WaveWriterFailure, OddDataGetsItsPadByteWhenCuttingTheFrameMadeRoom)
    {
        // 24-bit mono: 52 bytes fit, of which 51 in whole frames; the pad byte then fits.
        const std::string filePath = path("pad.wav");
        EXPECT_EQ(
            runUnderFileSizeLimit(98,
                [&] { return writeUntilFailure(filePath, pcmWaveFormat(1, 8000, 24), 3000, 3); }),
            0);
        expectFinishedWithStreamStart(filePath, 46 + 51 + 1, 51);
    }

    TEST_F(WaveWriterFailure, FailureHiddenInTheBufferIsReportedAtClose)
    {
        const std::string filePath = path("buffered.wav");
        const int result = runUnderFileSizeLimit(100, [&] {
            auto writer = createWaveWriter(filePath, pcm8Mono());
            if (writer == nullptr)
                return 1;
            for (std::size_t offset = 0; offset < 60; offset += 10) {
                // 46 + 60 bytes, still inside the I/O buffer
                const Bytes block = streamBytes(offset, 10);
                if (writeWave(*writer, block.data(), block.size()) != 10)
                    return 2;
            }
            if (closeWave(std::move(writer)))
                return 3;
            return 0;
        });
        EXPECT_EQ(result, 0);
        // What the flush at close could not place is dropped, not appended after the patch.
        expectFinishedWithStreamStart(filePath, 100, 54);
    }

} // namespace
} // namespace lumivox::wave::test
