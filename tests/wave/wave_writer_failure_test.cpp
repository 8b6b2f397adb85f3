#include "wave/wave_file.h"
#include "wave_test_files.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>

namespace lumivox::wave::test {
namespace {

    WaveFormat pcm8Mono()
    {
        WaveFormat format;
        format.formatTag = pcmFormatTag;
        format.channels = 1;
        format.sampleRate = 8000;
        format.avgBytesPerSec = 8000;
        format.blockAlign = 1;
        format.bitsPerSample = 8;
        return format;
    }

    // Runs the check in a child process whose files may not grow past fileSizeLimit bytes, so the
    // limit cannot touch the test runner; the check's non-zero result names the step that failed.
    int runUnderFileSizeLimit(
        rlim_t fileSizeLimit, int (*check)(const std::string&), const std::string& filePath)
    {
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
            const rlimit limit { fileSizeLimit, fileSizeLimit };
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(100);
            ::_exit(check(filePath));
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }

    using WaveWriterFailure = WaveFileTest;

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

    TEST_F(WaveWriterFailure, WriteBeyondFileSizeLimitFailsAndStaysFailed)
    {
        const int result = runUnderFileSizeLimit(
            1000,
            [](const std::string& filePath) {
                auto writer = createWaveWriter(filePath, pcm8Mono());
                if (writer == nullptr)
                    return 1;
                // The first block may still fit in the I/O buffer; its flush fails by the third.
                const Bytes block(4096, 128);
                int blocksAccepted = 0;
                while (writeWave(*writer, block.data(), block.size()) == 4096)
                    if (++blocksAccepted == 3)
                        return 2;
                if (!writer->failed() || writeWave(*writer, block.data(), 1) != -1)
                    return 3;
                if (closeWave(std::move(writer)))
                    return 4;
                return 0;
            },
            path("limited.wav"));
        EXPECT_EQ(result, 0);
        // The sizes stay 0: the file does not pass for a complete, shorter recording.
        const Bytes bytes = readFile(path("limited.wav"));
        ASSERT_GE(bytes.size(), 46u);
        EXPECT_EQ(uint32At(bytes, 4), 0u);
        EXPECT_EQ(uint32At(bytes, 42), 0u);
    }

    TEST_F(WaveWriterFailure, FailureHiddenInTheBufferIsReportedAtClose)
    {
        const int result = runUnderFileSizeLimit(
            100,
            [](const std::string& filePath) {
                auto writer = createWaveWriter(filePath, pcm8Mono());
                if (writer == nullptr)
                    return 1;
                const Bytes block(10, 128);
                for (int i = 0; i < 6; ++i) // 46 + 60 bytes, still inside the I/O buffer
                    if (writeWave(*writer, block.data(), block.size()) != 10)
                        return 2;
                if (closeWave(std::move(writer)))
                    return 3;
                return 0;
            },
            path("buffered.wav"));
        EXPECT_EQ(result, 0);
    }

} // namespace
} // namespace lumivox::wave::test
