#include "sound_test_files.h"
#include "wave_test_files.h"

#include <cmath>
#include <cstdlib>

namespace lumivox::wave::test {
namespace {

    constexpr std::size_t blockFrames = 2048;

    // One recording format, written from the same 16-bit tones as a reference 16-bit WAV.
    struct FormatCase {
        const char* label;
        int formatCode;
        int channels;
        int sampleRate;
        SampleEncoding encoding;
        int bitsPerSample;
        const char* name;
    };

    void PrintTo(const FormatCase& row, std::ostream* out) { *out << row.label; }

    constexpr FormatCase formatCases[] = {
        { "FLAC16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, SampleEncoding::Integer, 16,
            "FLAC, 16-bit" },
        { "FLAC16Stereo", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, SampleEncoding::Integer, 16,
            "FLAC, 16-bit" },
        { "FLAC24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, 48000, SampleEncoding::Integer, 24,
            "FLAC, 24-bit" },
        { "AIFF16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 22050, SampleEncoding::Integer, 16,
            "AIFF, 16-bit" },
        { "AIFF8", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 1, 8000, SampleEncoding::Integer, 8,
            "AIFF, 8-bit" },
        { "WAV24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 48000, SampleEncoding::Integer, 24,
            "WAV, 24-bit" },
        { "WAV32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1, 96000, SampleEncoding::Integer, 32,
            "WAV, 32-bit" },
        { "WAVFloat", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, SampleEncoding::Float, 32,
            "WAV, 32-bit float" },
        { "W64Double", SF_FORMAT_W64 | SF_FORMAT_DOUBLE, 2, 44100, SampleEncoding::Float, 64,
            "W64, 64-bit float" },
        { "RF64SixChannels24", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 6, 48000, SampleEncoding::Integer,
            24, "RF64, 24-bit" },
        { "W64EightChannels16", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 8, 44100, SampleEncoding::Integer,
            16, "W64, 16-bit" },
        { "OggVorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 44100, SampleEncoding::Lossy, 16,
            "Vorbis" },
        { "Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 1, 48000, SampleEncoding::Lossy, 16, "Opus" },
        { "MP3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, 44100, SampleEncoding::Lossy, 16,
            "MP3" },
    };

    // Each channel is the tone moved up or down by a multiple of 37 units, the moves summing to
    // 0: the mean of the channels is the tone itself.
    int channelOffset(int channel, int channelCount)
    {
        return (2 * channel - channelCount + 1) * 37;
    }

    // The extra precision of a sample wider than 16 bits, in 16-bit units: a fraction that the
    // 16-bit rounding would lose.
    double finePart(std::size_t frame, int bitsPerSample)
    {
        const int extraBits = bitsPerSample - 16;
        const int steps = 1 << std::min(extraBits, 8);
        return static_cast<double>(frame % static_cast<std::size_t>(steps))
            / static_cast<double>(steps);
    }

    // The frames the reader must give for the row, from the 16-bit reference samples.
    std::vector<double> expectedFrames(const FormatCase& row, const std::vector<std::int16_t>& tone)
    {
        std::vector<double> frames(tone.size());
        for (std::size_t i = 0; i < tone.size(); ++i) {
            if (row.bitsPerSample == 8)
                frames[i] = static_cast<double>(tone[i] >> 8); // 8-bit files stay in 8-bit units
            else if (row.encoding == SampleEncoding::Float)
                frames[i] = tone[i] + 0.25; // a float keeps what a 16-bit integer cannot
            else if (row.bitsPerSample > 16)
                frames[i] = tone[i] + finePart(i, row.bitsPerSample);
            else
                frames[i] = tone[i];
        }
        return frames;
    }

    bool writeRow(
        const std::string& path, const FormatCase& row, const std::vector<std::int16_t>& tone)
    {
        const auto channels = static_cast<std::size_t>(row.channels);
        if (row.encoding == SampleEncoding::Integer) {
            std::vector<int> interleaved(tone.size() * channels);
            for (std::size_t i = 0; i < tone.size(); ++i) {
                for (int c = 0; c < row.channels; ++c) {
                    const std::int64_t value = tone[i] + channelOffset(c, row.channels);
                    std::int64_t stored
                        = row.bitsPerSample == 8 ? (tone[i] >> 8) * (1 << 24) : value * 65536;
                    if (row.bitsPerSample > 16)
                        stored
                            += static_cast<std::int64_t>(finePart(i, row.bitsPerSample) * 65536.0);
                    interleaved[i * channels + static_cast<std::size_t>(c)]
                        = static_cast<int>(stored);
                }
            }
            return writeIntegerSoundFile(
                path, row.formatCode, row.channels, row.sampleRate, interleaved);
        }
        std::vector<double> interleaved(tone.size() * channels);
        for (std::size_t i = 0; i < tone.size(); ++i) {
            for (int c = 0; c < row.channels; ++c) {
                double value = tone[i] + channelOffset(c, row.channels);
                if (row.encoding == SampleEncoding::Float)
                    value += 0.25;
                interleaved[i * channels + static_cast<std::size_t>(c)] = value / 32768.0;
            }
        }
        return writeDoubleSoundFile(
            path, row.formatCode, row.channels, row.sampleRate, interleaved);
    }

    // The root mean square of the difference over a window in the middle, in decibels below the
    // reference's own, at the lag (within a few codec frames) that makes it least.
    double bestSignalToError(const std::vector<double>& reference, const std::vector<double>& got)
    {
        const std::size_t start = reference.size() / 3;
        const std::size_t length = 4096;
        double best = -1000.0;
        for (int lag = -3000; lag <= 3000; ++lag) {
            double signal = 0.0;
            double error = 0.0;
            for (std::size_t i = start; i < start + length; ++i) {
                const auto j = static_cast<std::ptrdiff_t>(i) + lag;
                if (j < 0 || static_cast<std::size_t>(j) >= got.size())
                    break;
                const double difference = got[static_cast<std::size_t>(j)] - reference[i];
                signal += reference[i] * reference[i];
                error += difference * difference;
            }
            if (signal > 0.0 && error > 0.0)
                best = std::max(best, 10.0 * std::log10(signal / error));
        }
        return best;
    }

    class SoundFileFormats : public WaveFileTest,
                             public ::testing::WithParamInterface<FormatCase> { };

    TEST_P(SoundFileFormats, GivesTheSameAudioAsTheSixteenBitReference)
    {
        const FormatCase& row = GetParam();
        const auto tone = testTones(static_cast<std::size_t>(row.sampleRate), row.sampleRate);
        const std::string file = path("recording");
        ASSERT_TRUE(writeRow(file, row, tone)) << "libsndfile could not write " << row.label;

        SoundFileRefusal refusal = SoundFileRefusal::NotOpened;
        std::string cause = "unset";
        auto reader = openSoundFile(file, blockFrames, &refusal, &cause);
        ASSERT_NE(reader, nullptr) << cause;
        EXPECT_EQ(refusal, SoundFileRefusal::None);
        EXPECT_EQ(cause, "");
        const SoundFileFormat& format = reader->format();
        EXPECT_EQ(format.sampleRate, static_cast<std::uint32_t>(row.sampleRate));
        EXPECT_EQ(format.channels, row.channels);
        EXPECT_EQ(format.encoding, row.encoding);
        EXPECT_EQ(format.bitsPerSample, row.bitsPerSample);
        EXPECT_EQ(format.name, row.name);

        std::int64_t lastResult = -2;
        const std::vector<double> frames = readAllFrames(*reader, &lastResult);
        EXPECT_EQ(lastResult, 0) << reader->failureCause();
        const std::vector<double> expected = expectedFrames(row, tone);
        if (row.encoding == SampleEncoding::Lossy) {
            // A codec gives its own length and a close copy of the sound, not the samples.
            EXPECT_NEAR(static_cast<double>(frames.size()), static_cast<double>(tone.size()),
                0.05 * static_cast<double>(tone.size()));
            EXPECT_GT(bestSignalToError(expected, frames), 20.0);
            return;
        }
        ASSERT_EQ(frames.size(), expected.size());
        // The mean of 6 channels divides by 6, the only step that is not exact.
        const double tolerance = row.channels == 6 ? 1e-9 : 0.0;
        for (std::size_t i = 0; i < frames.size(); ++i)
            ASSERT_NEAR(frames[i], expected[i], tolerance) << "frame " << i;
    }

    INSTANTIATE_TEST_SUITE_P(Recordings, SoundFileFormats, ::testing::ValuesIn(formatCases),
        [](const auto& param) { return std::string(param.param.label); });

} // namespace
} // namespace lumivox::wave::test
