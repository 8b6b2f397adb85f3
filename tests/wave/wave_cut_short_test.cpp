#include "wave/wave_file.h"
#include "wave_test_files.h"

#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace lumivox::wave::test {
namespace {

    // Several file-system blocks, so that cutting the first block leaves a hole the size of one.
    constexpr std::size_t blockBytes = 4 * 4096;

    // What another program does to the output between the writer's first and second block.
    struct CutCase {
        const char* name;
        std::function<void(const std::string& file)> act;
        bool refreshSeesIt; // a refresh after the second block fails
        bool cutShort; // closing fails with the file cut short
    };

    void truncateTo(const std::string& file, off_t length)
    {
        ASSERT_EQ(::truncate(file.c_str(), length), 0);
    }

    const CutCase cutCases[] = {
        { "LeftAlone", [](const std::string&) {}, false, false },
        // The second block lands past the new end, leaving a hole where the header and the first
        // block were.
        { "Emptied", [](const std::string& file) { truncateTo(file, 0); }, true, true },
        { "CutInsideTheAudio", [](const std::string& file) { truncateTo(file, 46 + 100); }, true,
            true },
        { "HeaderZeroed",
            [](const std::string& file) {
                const int descriptor = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
                const Bytes zeros(46, 0);
                ASSERT_EQ(::pwrite(descriptor, zeros.data(), zeros.size(), 0), 46);
                ::close(descriptor);
            },
            true, true },
    };

    class WaveWriterCut : public WaveFileTest, public ::testing::WithParamInterface<CutCase> { };

    TEST_P(WaveWriterCut, IsSeenAndTheFileStaysAWaveFile)
    {
        const std::string file = path("out.wav");
        auto writer = createWaveWriter(file, pcmWaveFormat(1, 8000, 8));
        ASSERT_NE(writer, nullptr);
        const Bytes block = countingBytes(blockBytes);
        ASSERT_EQ(writeWave(*writer, block.data(), block.size()), std::int64_t { blockBytes });
        ASSERT_TRUE(refreshWaveSizes(*writer));
        GetParam().act(file);
        ASSERT_EQ(writeWave(*writer, block.data(), block.size()), std::int64_t { blockBytes });
        EXPECT_EQ(refreshWaveSizes(*writer), !GetParam().refreshSeesIt);
        EXPECT_EQ(writer->failed(), GetParam().refreshSeesIt);

        WaveFileError error;
        EXPECT_EQ(closeWave(std::move(writer), &error), !GetParam().cutShort);
        EXPECT_EQ(
            error.problem, GetParam().cutShort ? WaveFileProblem::CutShort : WaveFileProblem::None);
        if (GetParam().cutShort) {
            EXPECT_EQ(describe(error), "the file was cut short by another program");
        }
        // Whatever happened, the whole header is in place and its sizes match the file.
        std::string problem;
        const auto output = readOutputWave(file, problem);
        ASSERT_TRUE(output.has_value()) << problem;
        EXPECT_EQ(output->shape.bitsPerSample, 8);
        EXPECT_EQ(output->shape.sampleRate, 8000u);
        EXPECT_LE(output->data.size(), 2 * blockBytes);
    }

    INSTANTIATE_TEST_SUITE_P(Cuts, WaveWriterCut, ::testing::ValuesIn(cutCases),
        [](const ::testing::TestParamInfo<CutCase>& given) {
            return std::string(given.param.name);
        });

} // namespace
} // namespace lumivox::wave::test
