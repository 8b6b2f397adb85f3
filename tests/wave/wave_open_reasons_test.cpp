#include "wave/wave_file.h"
#include "wave_test_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lumivox::wave::test {
namespace {

    Bytes fmt16() { return chunk("fmt ", pcmFormatPayload(1, 44100, 16)); }

    struct RefusedInput {
        const char* name;
        Bytes bytes;
        WaveFileProblem problem;
    };

    class WaveOpenReason : public WaveFileTest,
                           public ::testing::WithParamInterface<RefusedInput> { };

    Bytes text(std::string_view words)
    {
        Bytes bytes;
        appendText(bytes, words);
        return bytes;
    }

    // Foreign chunks of four bytes each, as many as asked, then fmt and data.
    Bytes manyChunksBeforeFmt(int chunkCount)
    {
        std::vector<Bytes> chunks;
        Bytes body;
        appendText(body, "WAVE");
        for (int i = 0; i < chunkCount; ++i)
            append(body, chunk("junk", countingBytes(4)));
        append(body, fmt16());
        append(body, chunk("data", countingBytes(6)));
        Bytes file;
        appendText(file, "RIFF");
        appendUint32(file, static_cast<std::uint32_t>(body.size()));
        append(file, body);
        return file;
    }

    using WaveOpenReasons = WaveFileTest;

} // namespace

TEST_P(WaveOpenReason, NamesWhyTheFileWasRefused)
{
    WaveFileError error;
    EXPECT_EQ(
        openWaveReader(writeFile("in.wav", GetParam().bytes), nullptr, nullptr, &error), nullptr);
    EXPECT_EQ(error.problem, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(Files, WaveOpenReason,
    ::testing::Values(RefusedInput { "Empty", {}, WaveFileProblem::NotRiffWave },
        RefusedInput {
            "Text", text("just some words, not a sound\n"), WaveFileProblem::NotRiffWave },
        RefusedInput { "Flac", text("fLaC\0\0\0\"\x10\x00\x10\x00"), WaveFileProblem::NotRiffWave },
        RefusedInput { "NoFmt", riff("WAVE", { chunk("data", countingBytes(4)) }),
            WaveFileProblem::NoFormatChunk },
        RefusedInput { "ShortFmt",
            riff("WAVE", { chunk("fmt ", countingBytes(8)), chunk("data", {}) }),
            WaveFileProblem::BadFormatChunk },
        RefusedInput { "NoData", riff("WAVE", { fmt16() }), WaveFileProblem::NoDataChunk },
        RefusedInput {
            "ThousandsOfChunks", manyChunksBeforeFmt(5000), WaveFileProblem::TooManyChunks }),
    [](const ::testing::TestParamInfo<RefusedInput>& input) {
        return std::string(input.param.name);
    });

TEST_F(WaveOpenReasons, SystemReasonsAreKept)
{
    WaveFileError error;
    EXPECT_EQ(openWaveReader(path("absent.wav"), nullptr, nullptr, &error), nullptr);
    EXPECT_EQ(error.problem, WaveFileProblem::System);
    EXPECT_EQ(describe(error), "No such file or directory");
    EXPECT_EQ(openWaveReader(path(""), nullptr, nullptr, &error), nullptr);
    EXPECT_EQ(describe(error), "Is a directory");
}

TEST_F(WaveOpenReasons, HundredsOfForeignChunksStillOpen)
{
    EXPECT_NE(openWaveReader(writeFile("in.wav", manyChunksBeforeFmt(900))), nullptr);
}

// Gigabytes of zero bytes read as millions of empty chunks: the search gives up after a bounded
// number of them instead of walking the file eight bytes at a time.
TEST_F(WaveOpenReasons, ASparseFileWithFmtAfterGigabytesOfZerosIsRefusedQuickly)
{
    const std::string file = path("sparse.wav");
    Bytes head;
    appendText(head, "RIFF");
    appendUint32(head, 0xFFFFFFF0);
    appendText(head, "WAVE");
    Bytes tail = fmt16();
    append(tail, chunk("data", countingBytes(8)));
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(descriptor, 0);
    const off_t tailOffset = off_t { 4'000'000'000 };
    const bool written = ::pwrite(descriptor, head.data(), head.size(), 0) == ssize_t(head.size())
        && ::pwrite(descriptor, tail.data(), tail.size(), tailOffset) == ssize_t(tail.size());
    ::close(descriptor);
    if (!written)
        GTEST_SKIP() << "the temporary folder holds no sparse 4 GB file";

    WaveFileError error;
    EXPECT_EQ(openWaveReader(file, nullptr, nullptr, &error), nullptr);
    EXPECT_EQ(error.problem, WaveFileProblem::TooManyChunks);
}

TEST_F(WaveOpenReasons, AWriterRefusesAnOutputThatAnotherHoldsAndLeavesItAsItWas)
{
    const std::string file = writeFile("out.wav", countingBytes(10));
    const int holder = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    WaveFileError error;
    EXPECT_EQ(createWaveWriter(file, pcmWaveFormat(1, 44100, 16), {}, &error), nullptr);
    EXPECT_EQ(error.problem, WaveFileProblem::InUse);
    EXPECT_EQ(lumivox::test::readFile(file), countingBytes(10));
    ::close(holder);

    auto writer = createWaveWriter(file, pcmWaveFormat(1, 44100, 16), {}, &error);
    ASSERT_NE(writer, nullptr);
    // While it lives, the writer holds the lock itself.
    const int second = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_NE(::flock(second, LOCK_EX | LOCK_NB), 0);
    EXPECT_TRUE(closeWave(std::move(writer)));
    EXPECT_EQ(::flock(second, LOCK_EX | LOCK_NB), 0);
    ::close(second);
}

} // namespace lumivox::wave::test
