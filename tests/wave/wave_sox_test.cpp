#include "wave/wave_file.h"
#include "wave_test_files.h"

#include <cstdio>
#include <cstdlib>

namespace lumivox::wave::test {
namespace {

    // Standard output of a shell command, or nothing when it fails.
    std::string outputOf(const std::string& command)
    {
        std::string output;
        std::FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr)
            return output;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            output += buffer;
        if (::pclose(pipe) != 0)
            return {};
        while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
            output.pop_back();
        return output;
    }

    class WaveWriterWithSox : public WaveFileTest {
    protected:
        void SetUp() override
        {
            if (std::system("command -v soxi >/dev/null 2>&1") != 0)
                GTEST_SKIP() << "soxi (Debian package sox) is not installed";
            WaveFileTest::SetUp();
        }

        // Writes a mono file and checks what soxi reports and the samples sox decodes.
        void checkWithSox(std::uint32_t sampleRate, std::uint16_t bits, const Bytes& samples)
        {
            const WaveFormat format = pcmWaveFormat(1, sampleRate, bits);
            const std::string file = path("sox.wav");
            auto writer = createWaveWriter(file, format);
            ASSERT_NE(writer, nullptr);
            ASSERT_EQ(writeWave(*writer, samples.data(), samples.size()),
                static_cast<std::int64_t>(samples.size()));
            ASSERT_TRUE(closeWave(std::move(writer)));

            const std::string quoted = "'" + file + "'";
            EXPECT_EQ(outputOf("soxi -c " + quoted), "1");
            EXPECT_EQ(outputOf("soxi -r " + quoted), std::to_string(sampleRate));
            EXPECT_EQ(outputOf("soxi -b " + quoted), std::to_string(bits));
            EXPECT_EQ(outputOf("soxi -s " + quoted), std::to_string(samples.size() / (bits / 8)));

            // sox copies the samples unchanged to raw output in the file's own encoding.
            const std::string raw = path("sox.raw");
            ASSERT_EQ(std::system(("sox -V1 " + quoted + " -t raw '" + raw + "'").c_str()), 0);
            EXPECT_EQ(readFile(raw), samples);
        }
    };

    TEST_F(WaveWriterWithSox, SixteenBitFileIsReadAsWritten)
    {
        checkWithSox(44100, 16, countingBytes(2 * 1234, 3));
    }

    TEST_F(WaveWriterWithSox, EightBitFileWithPadByteIsReadAsWritten)
    {
        checkWithSox(22050, 8, countingBytes(777, 100));
    }

    TEST_F(WaveWriterWithSox, EmptyFileHoldsNoSamples) { checkWithSox(8000, 16, {}); }

} // namespace
} // namespace lumivox::wave::test
